// A file the tool writes (monitor --csv, memory dump --out, linear read
// --table) such that no data is lost: nothing is made before the first byte
// is written; it is written under a temporary name beside the target and
// renamed over it only when the result is complete, so an earlier file of
// that name stays as it was until then. A run that fails part-way keeps the
// temporary file and names it. "-" is standard output.
#pragma once

#include <cstdio>
#include <string>

namespace nxtka_cli {

class OutputFile {
public:
    // Checks, before any device is opened, that the path can be written: it
    // is not a directory, its directory exists and takes new files. Throws
    // ToolError with status 2, naming `option` (e.g. "--csv").
    OutputFile(std::string path, const std::string& option);
    // An unfinished temporary file is removed when it is empty, else kept.
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    bool toStdout() const { return path_ == "-"; }
    const std::string& path() const { return path_; }
    // The stream to write to; the temporary file is made at the first call.
    // Throws ToolError.
    std::FILE* stream();
    // Puts the complete result in place (stdout: flushes it). Throws
    // ToolError, naming the temporary file when the rename fails.
    void commit();
    // After a failure part-way: closes and keeps the temporary file. Returns
    // its name, or "" when nothing was written (or it is stdout).
    std::string keepPartial();

private:
    std::string path_;
    std::string tempPath_;
    std::FILE* file_ = nullptr;
};

// "; run.csv is unchanged, the part written is in run.csv.partial-Ab12Cd"
// (only the second half when no file of that name was there), or "" when
// `partial` is empty.
std::string partialNote(const std::string& path, const std::string& partial, const std::string& what);

}  // namespace nxtka_cli
