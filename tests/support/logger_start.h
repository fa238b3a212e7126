// logger_start.h - the logger brought up in-process as main brings it up, up
// to the event loop, for tests and tools that then act as its operator.
#pragma once

// Loads the main panel into panelHandle and takes main's steps up to the
// event loop (probe, display, port table, countdown) in the current
// directory. Returns false, having done nothing else, when the main panel
// cannot be loaded.
bool start_logger_in_process();
