// The texts of the engine's error codes, for the program's messages and the
// engine's own lines on stderr.
#include "engine.h"

const char *UiErrorText(int code)
{
    switch (code) {
    case 0: return "no error";
    case UI_ERR_NOT_READY: return "the user interface is not started";
    case UI_ERR_FILE: return "panel resource file missing or unreadable";
    case UI_ERR_FORMAT: return "panel resource file malformed";
    case UI_ERR_NO_RESOURCE: return "no panel with that resource number";
    case UI_ERR_CALLBACK: return "callback not defined by the program";
    case UI_ERR_BAD_PANEL: return "no such panel";
    case UI_ERR_BAD_CONTROL: return "no such control";
    case UI_ERR_BAD_ATTRIBUTE: return "attribute not valid for the control";
    case UI_ERR_BAD_VALUE: return "value not valid for the control";
    case UI_ERR_TOO_MANY_PANELS: return "too many panels";
    }
    return "unknown error";
}

const char *ComErrorText(int code)
{
    switch (code) {
    case 0: return "no error";
    case COM_ERR_SYSTEM: return "unexpected system error";
    case COM_ERR_BAD_PORT: return "port number out of range";
    case COM_ERR_NOT_OPEN: return "port not open";
    case COM_ERR_NO_DEVICE: return "no such device";
    case COM_ERR_PERMISSION: return "permission denied";
    case COM_ERR_BUSY: return "port in use by another program";
    case COM_ERR_NOT_SERIAL: return "not a serial device";
    case COM_ERR_BAD_SETTING: return "setting not supported";
    case COM_ERR_DEVICE_GONE: return "device gone";
    case COM_ERR_OTHER_DEVICE: return "another device under the port's name";
    }
    return "unknown error";
}

const char *ComLineErrorName(int kind)
{
    static const char *const names[COM_LINE_KINDS] = {"overrun", "buffer_overrun", "framing", "parity", "break"};
    return kind >= 0 && kind < COM_LINE_KINDS ? names[kind] : "";
}
