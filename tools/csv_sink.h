// Where monitor's CSV rows go, so that no data is ever lost: a new file is an
// OutputFile (made at the first row, put in place when the run is complete,
// kept under its temporary name when it is not); --append adds to the end of
// a file of this tool's rows, numbering on from its last row, and refuses
// any other file; stdout gets every batch of rows flushed as it is read.
#pragma once

#include "output_file.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace nxtka_cli {

struct Scale;

class CsvSink {
public:
    CsvSink() = default;
    // An empty path writes nothing; "-" is stdout. Every check that needs no
    // device (the path can be written; with `append`, the file holds this
    // tool's header and ends with a whole row) throws ToolError with status 2.
    CsvSink(const std::string& path, bool append);
    ~CsvSink();
    CsvSink(const CsvSink&) = delete;
    CsvSink& operator=(const CsvSink&) = delete;

    bool enabled() const { return !path_.empty(); }
    bool toStdout() const { return path_ == "-"; }
    bool appending() const { return append_; }
    // Before the first row: each row gets its scaled value and the unit too,
    // and a new file begins with "# scale UNIT: where it came from". Not with
    // --append (throws ToolError, status 2). `scale` must outlive the sink.
    void setScale(const Scale* scale);
    // The row of the `index`th value of this run (numbered on after the rows
    // an appended file holds). The file is made at the first one. Throws
    // ToolError.
    void row(std::uint64_t index, double readTimeS, double value, std::uint8_t status);
    // After each batch: the rows reach the file or the pipe. False when the
    // reader of stdout went away (e.g. `| head`).
    bool flush();
    // The run is complete: the file goes in place. Throws ToolError.
    void finish();
    // The run ended part-way: where its rows are ("" when none were written,
    // and for stdout), with the earlier file of the name left as it was.
    std::string keepPartial();
    std::uint64_t rows() const { return rows_; }
    // The sample number of the first row this run writes.
    std::uint64_t firstSample() const { return firstSample_; }

private:
    std::FILE* stream();

    std::string path_;
    bool append_ = false;
    std::unique_ptr<OutputFile> output_;  // a new file or stdout
    std::FILE* appended_ = nullptr;       // with --append
    std::uint64_t rows_ = 0;
    std::uint64_t firstSample_ = 0;
    const Scale* scale_ = nullptr;
};

}  // namespace nxtka_cli
