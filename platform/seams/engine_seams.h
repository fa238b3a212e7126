// engine_seams.h - what tests may replace or operate in the engine.
//
// Only tests and the tools beside them (vorn_screenshots, hostile_inputs)
// include this header and link the engine_seams library; the program never
// does. It lets a test fix the clock, answer popups, act as the operator
// through real Qt input events, read back what the panels show, build panels
// from text, and look into the port map. The seams set the hooks the engine
// always calls through (its clock and popup handler, the device identities);
// the rest works through the engine's internal headers.
#pragma once

#include <functional>
#include <string>
#include <vector>

// --- Clock: a fixed local time until SeamUseRealClock. The engine's measure
// of elapsed time (how long a port has been silent or its device away) stands
// still with it and moves as far as a later SeamSetClock moves it.
void SeamSetClock(int year, int month, int day, int hour, int minute, int second);
void SeamUseRealClock();
// The wall clock that dates the bytes' arrival (not the fixed local time
// above): from now on it reads the system's clock moved by `us` more, as
// when the system clock is set back (negative) or forward; the steps add up.
void SeamStepWallClock(long long us);

// --- Popups. While answering is on, MessagePopup and ConfirmPopup show
// nothing: they record the popup and return at once, ConfirmPopup with the
// chosen answer (MessagePopup returns 0).
struct SeamPopup {
    std::string kind; // "message" or "confirm"
    std::string title;
    std::string message;
};
void SeamAnswerPopups(int confirmAnswer);
void SeamShowPopups(); // real modal dialogs, also on the offscreen platform
// What the program does on its own: real dialogs, but on the offscreen
// platform a line on stderr and the answer yes.
void SeamDefaultPopups();
const std::vector<SeamPopup> &SeamPopupsShown();
void SeamClearPopups();
// Answers the real modal popup that is open now (1 yes/OK, 0 no); returns
// false when none is open.
bool SeamAnswerOpenPopup(int answer);
// Whether a real modal popup (MessagePopup/ConfirmPopup) is open now.
bool SeamPopupOpen();

// --- The operator, through real Qt input events on the control's widget.
// Each returns false when the control cannot take that action.
bool SeamClick(int panel, int control);                 // left mouse click
bool SeamEnterValue(int panel, int control, int value); // numeric: type it and press Enter;
                                                        // ring: arrow keys to the item;
                                                        // check box, switch: click until it shows value
// Closes the panel's window from its frame, as the operator does with the
// window manager's close button (a real close event).
bool SeamCloseFromFrame(int panel);
// A tick of an enabled timer, delivered as the engine delivers its timer's
// ticks (dropped while a callback runs); returns false, delivering nothing,
// for a stopped timer or a control that is no timer.
bool SeamTick(int panel, int timer);

// --- What the panels show.
int SeamCtrlValue(int panel, int control);
std::string SeamCtrlText(int panel, int control);  // text box: lines joined by '\n'
std::string SeamCtrlLabel(int panel, int control);
int SeamCtrlAttribute(int panel, int control, int attribute); // -1 when not applicable
double SeamTimerInterval(int panel, int timer);    // seconds
bool SeamPanelVisible(int panel);
bool SeamPanelExists(int panel);
bool SeamPanelModal(int panel);
std::vector<int> SeamControlIds(int panel);
// The control's widget kind as the resource names it ("button", "textbox", ...).
std::string SeamCtrlKind(int panel, int control);
// The callback name bound to the control ("" for none).
std::string SeamCtrlCallbackName(int panel, int control);

// Writes what the panel's window shows to a PNG file; false when it cannot.
bool SeamGrabPanel(int panel, const char *pngPath);

// --- Panels from resource text in memory, as LoadPanel reads a file.
// `where` names the text in diagnostics.
int SeamLoadPanelFromText(int parent, const std::string &resourceText, int resource,
                          const char *where = "<text>");
// Reads panel `resource` of the text as LoadPanel reads it, building nothing
// and binding no callback, and hands back its numbers. Returns 0, or the
// UiError LoadPanel gives for the text (UI_ERR_FORMAT, UI_ERR_NO_RESOURCE)
// with, in error, what its line on stderr would say; writes nothing itself.
struct SeamControlNumbers {
    int id = 0;
    int x = 0, y = 0, width = 0, height = 0;
    int fontSize = 0;      // points; 0 for the default
    double interval = 0.0; // seconds, as a timer ticks (1 where none is given)
};
struct SeamPanelNumbers {
    int width = 0, height = 0;
    std::vector<SeamControlNumbers> controls; // in the order of the resource
};
int SeamParsePanel(const std::string &text, int resource, const char *where, SeamPanelNumbers &numbers,
                   std::string &error);

// Runs the event loop until pred() holds or timeoutMs passes; returns pred().
bool SeamProcessEventsUntil(const std::function<bool()> &pred, int timeoutMs);
// Runs fn from the event loop after delayMs (for acting while a popup is open).
void SeamRunLater(int delayMs, const std::function<void()> &fn);

// --- Serial: the port map is read once from comports.map in the start-up
// directory; this forgets it, so the next serial call reads it again from the
// current directory.
void SeamReloadPortMap();
// The device path an open of port with deviceName resolves to now: "" means
// COMn itself, COMk is looked up as well, any other name is taken as a path.
// "" for a port marked none.
std::string SeamPortPath(int port, const char *deviceName = "");
// From now on the engine reads `identity` as the identity of the device at
// `device` (pseudo-terminals have none of their own), as it reads a USB
// adapter's serial number; "" takes it away again. Links are followed, so a
// name that points to another device has that device's identity.
void SeamSetDeviceIdentity(const std::string &device, const std::string &identity);
// From now on the engine reads `counts` as the line's error counters of the
// device at `device` (a pseudo-terminal has none of its own), as it reads a
// UART's: by kind, in the order of ComLineError (overrun, buffer overrun,
// framing, parity, break), each as a driver counts it since its start: every
// call gives their values from then on. An empty vector takes them away.
void SeamSetLineCounts(const std::string &device, const std::vector<long long> &counts);
