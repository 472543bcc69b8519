// The console handler of the Windows signal watcher, as Windows calls it (on a thread of its own,
// with one of the CTRL_*_EVENT codes); for the tests, which cannot always make a console raise
// every event.
#pragma once

int ConsoleEventForWatcher(unsigned long event);
