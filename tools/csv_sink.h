// Where monitor's CSV rows go, so that no data is ever lost: nothing is
// created or emptied before the first value arrives; a new file is written
// under a temporary name beside the target and renamed over it at the end
// (an earlier file of that name stays untouched until then); --append adds
// to the end of the file, with the header only when the file is empty;
// stdout gets every batch of rows flushed as it is read.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace nxtka_cli {

class CsvSink {
public:
    CsvSink() = default;
    // Checks that the path can be written (its directory exists and is
    // writable, it is not a directory); throws ToolError with status 2.
    // "-" is stdout; an empty path writes nothing.
    CsvSink(std::string path, bool append);
    ~CsvSink();  // an unfinished file is kept (renamed into place) if it has rows
    CsvSink(const CsvSink&) = delete;
    CsvSink& operator=(const CsvSink&) = delete;

    bool enabled() const { return !path_.empty(); }
    bool toStdout() const { return path_ == "-"; }
    // One row; the file is made at the first one. Throws ToolError.
    void row(std::uint64_t index, double readTimeS, double value, std::uint8_t status);
    // After each batch: the rows reach the file or the pipe. False when the
    // reader of stdout went away (e.g. `| head`).
    bool flush();
    // Puts the file in place. Throws ToolError when that fails.
    void finish();
    std::uint64_t rows() const { return rows_; }
    // Where the rows are (the temporary name until finish).
    const std::string& path() const { return path_; }

private:
    void open();
    void close(bool keep);

    std::string path_;
    std::string tempPath_;
    bool append_ = false;
    std::FILE* file_ = nullptr;
    std::uint64_t rows_ = 0;
};

}  // namespace nxtka_cli
