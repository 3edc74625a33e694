/* Identifiers of the program's resources: the progress dialog template and
   its controls, the icons and the string table.

   Shared by the resource scripts (windres defines RC_INVOKED) and by the
   C++ code, which includes this file on every platform; it therefore uses
   plain #defines and needs no system header. Every language variant in
   lang/ uses exactly these ids. */
#ifndef SEA_RESOURCES_RESOURCE_IDS_H
#define SEA_RESOURCES_RESOURCE_IDS_H

/* Resource names are strings: narrow in the resource script, wide in C++. */
#ifdef RC_INVOKED
#define SEA_RESOURCE_NAME(text) text
#else
#define SEA_RESOURCE_NAME(text) L##text
#endif

/* The modal progress dialog template. */
#define IDD_PROGRESSINDICATOR SEA_RESOURCE_NAME("PROGRESSINDICATOR")

/* The program's window class loads its large and small icon under the
   class's own name. */
#define IDI_SEA_WINDOW_CLASS SEA_RESOURCE_NAME("Quillora Self Extractor")

/* Controls of the progress dialog. */
#define IDC_OK             1     /* default push button, never shown (Enter) */
#define IDC_CANCEL         2     /* Cancel (also Escape and the close box) */
#define IDC_MAIN_TEXT      1005  /* main text, two lines high */
#define IDC_ACTIVITY_TEXT  1007  /* "Extracting..." */
#define IDC_SECOND_TEXT    10001 /* second text */
#define IDC_PROGRESS       1011  /* progress bar, range 0 to 100 */
#define IDC_PERCENT_TEXT   1009  /* percentage text */
#define IDC_SPACER         1008  /* blank spacer, never changed */
#define IDC_CHOOSE         1010  /* Choose... (pick another folder) */
#define IDC_ICON_NORMAL    1002  /* application icon */
#define IDC_ICON_ERROR     1003  /* red error sign */
#define IDC_ICON_WARNING   1006  /* yellow warning sign */
#define IDC_FOOTER         1012  /* owner-drawn footer strip */

/* Icons (numbered resources). */
#define IDI_SEA_APPLICATION 108
#define IDI_SEA_WARNING     110
#define IDI_SEA_ERROR       111

/* String table. Error panels for the space errors (2, 14 and 17) offer
   Choose... and string 3 as second text; other errors show string 1. */
#define IDS_GET_ANOTHER_COPY          1  /* second text of most errors */
#define IDS_NO_TEMP_SPACE             2  /* main text, ask for location */
#define IDS_SELECT_TEMP_LOCATION      3  /* second text, space errors */
#define IDS_SELECT_ANOTHER_LOCATION   4  /* second text, another location */
#define IDS_PREPARING                 5  /* main text while extracting */
#define IDS_SELF_INSTALLER            6
#define IDS_CANNOT_EXTRACT            9
#define IDS_NO_COMPRESSED_FILE        10
#define IDS_MAGIC_MISMATCH            11
#define IDS_NO_EXE_NAME_BUFFER        12
#define IDS_CANNOT_CHECK_SPACE        13
#define IDS_NOT_ENOUGH_ROOM           14
#define IDS_CANNOT_CREATE_COMPRESSED  15
#define IDS_COMPRESSED_NOT_FOUND      16
#define IDS_OUT_OF_SPACE_CREATING     17
#define IDS_CANNOT_EXECUTE            18
#define IDS_BROWSE_TITLE              20 /* title line of the folder browser */
#define IDS_CANNOT_CREATE_SEA_LOC     21

#endif /* SEA_RESOURCES_RESOURCE_IDS_H */
