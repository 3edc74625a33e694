// The program's own window class.
#pragma once

// Registers a window class named class_name for the module instance: redraw
// on horizontal and vertical resize, no extra bytes, large and small icon
// loaded from the module under the class name, arrow cursor, white stock
// brush, menu name equal to the class name. Its window procedure answers
// creation with 0, calls on_destroy (when not null) and posts the quit
// message on destruction, and leaves everything else to the default
// procedure. The result of the registration is not reported.
// POSIX has no window system of its own: nothing is registered there.
void RegisterAppWindowClass(void* instance, const wchar_t* class_name, void (*on_destroy)());
