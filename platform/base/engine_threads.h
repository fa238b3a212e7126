// engine_threads.h - where the engine's threads end: in one place, in one
// order (StopEngine, engine.h).
//
// The rooms start threads of their own: the HTTP endpoint's (monitor), the
// serial reader and reopen threads (serial), the feeds' (net). StopEngine
// ends them in this order:
//   1. the HTTP endpoint: it only looks at the others, so it goes first and
//      never sees one of them half stopped;
//   2. the serial threads: from then on no byte is read, queued or handed
//      to a feed; what the queues hold stays for the program's last read;
//   3. the feeds: they send their clients what the reader handed them, as
//      far as the sockets take it without waiting, and close.
// The program calls StopEngine as it ends. A process that ends otherwise (a
// test, a tool, exit()) has it called at exit: the first thread started
// registers it with atexit, and so it runs before the tables those threads
// use are destroyed, whatever order the files' statics go in.
#pragma once

// Each room calls this once it has started a thread; the first call
// registers StopEngine to run at exit.
void engine_thread_started();
