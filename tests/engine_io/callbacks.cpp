// These tests load no panel: the program's table of callbacks is empty.
#include "engine.h"

const CallbackBinding callback_table[] = {{nullptr, nullptr}};
