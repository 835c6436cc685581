#pragma once

class AppPaths;
class QString;

// tarvex --upload FILE: the window's manual upload, without a window, for a
// headless station. Takes no lock and writes no setting, so it works beside a
// running Tarvex on the same data folder. Returns the exit status: 0 when the
// service answered 200, 1 another status, 2 a file or setting that cannot be
// used, 4 no answer at all.
int uploadCommand(const AppPaths& paths, const QString& file, bool force, bool deleteAfter);
