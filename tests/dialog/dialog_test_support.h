// Helpers of the dialog suite: recording stand-ins for what the dialog's
// handlers call outside the dialog (the driver, the folder browser, the
// timer, the end of the dialog), installed for one test.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "sea/progress_dialog.h"
#include "sea/run_state.h"

namespace dialog_test {

// One call a handler made, in order: "start 1 100", "kill 1", "show",
// "extract", "browse", "end 0".
struct Recorder {
    std::vector<std::string> calls;
    void* dialog_seen = nullptr;
    // What the fakes answer.
    std::function<int()> extract = [] { return 0; };
    std::function<bool(std::wstring&)> browse = [](std::wstring&) { return false; };
    // What the driver saw when it ran.
    std::vector<std::wstring> chosen_at_extract;
    std::wstring browse_title;
    void* browse_owner = nullptr;
    // The fake clock.
    int64_t now_ms = 1000000;

    static Recorder*& Current() {
        static Recorder* current = nullptr;
        return current;
    }
};

inline int FakeExtract() {
    Recorder& r = *Recorder::Current();
    r.calls.push_back("extract");
    r.chosen_at_extract.push_back(g_run.chosen_folder);
    return r.extract();
}

inline bool FakeBrowse(void* owner, const std::wstring& title, std::wstring& folder) {
    Recorder& r = *Recorder::Current();
    r.calls.push_back("browse");
    r.browse_owner = owner;
    r.browse_title = title;
    return r.browse(folder);
}

inline void FakeShowNow(void*) { Recorder::Current()->calls.push_back("show"); }

inline void FakeStartTimer(void*, int id, unsigned ms) {
    Recorder::Current()->calls.push_back("start " + std::to_string(id) + " " + std::to_string(ms));
}

inline void FakeKillTimer(void*, int id) {
    Recorder::Current()->calls.push_back("kill " + std::to_string(id));
}

inline int64_t FakeMilliseconds() { return Recorder::Current()->now_ms; }

inline void FakeEndDialog(void* dialog, int result) {
    Recorder::Current()->dialog_seen = dialog;
    Recorder::Current()->calls.push_back("end " + std::to_string(result));
}

// Installs the recorder's fakes in place of the dialog's services (all of
// them, or only the driver) and puts the run state and the services back
// when it goes.
class FakeServices {
public:
    enum Scope { kAll, kExtractOnly };
    explicit FakeServices(Scope scope = kAll) : saved_services_(DialogServices()), saved_run_(g_run) {
        Recorder::Current() = &recorder_;
        DialogServices().extract = FakeExtract;
        if (scope == kAll) {
            DialogServices().browse_for_folder = FakeBrowse;
            DialogServices().show_now = FakeShowNow;
            DialogServices().start_timer = FakeStartTimer;
            DialogServices().kill_timer = FakeKillTimer;
            DialogServices().end_dialog = FakeEndDialog;
            DialogServices().milliseconds = FakeMilliseconds;
        }
    }
    ~FakeServices() {
        DialogServices() = saved_services_;
        g_run = saved_run_;
        Recorder::Current() = nullptr;
    }
    FakeServices(const FakeServices&) = delete;
    FakeServices& operator=(const FakeServices&) = delete;

    Recorder& Calls() { return recorder_; }

private:
    Recorder recorder_;
    ProgressDialogServices saved_services_;
    RunState saved_run_;
};

}  // namespace dialog_test
