// A driver's record goes into cable->state as soon as open creates it, so the driver's slots
// and its close find it from then on. While open runs, this guard owns the record: unless open
// keeps it, leaving the scope (a failure return, std::bad_alloc) clears state and releases it.
#pragma once

#include <memory>

#include "cables/cable.h"

template <class Record>
class OpeningRecord {
  public:
    // Record is constructed from the cable; std::bad_alloc when it cannot be.
    explicit OpeningRecord(Cable& cable) : cable_(cable), record_(std::make_unique<Record>(cable)) {
        cable.state = record_.get();
    }
    ~OpeningRecord() {
        if (record_) cable_.state = nullptr;
    }
    OpeningRecord(const OpeningRecord&) = delete;
    OpeningRecord& operator=(const OpeningRecord&) = delete;

    Record& operator*() const { return *record_; }
    Record* operator->() const { return record_.get(); }
    // Open succeeded: the record is the cable's, released by the driver's close.
    Record* keep() { return record_.release(); }

  private:
    Cable& cable_;
    std::unique_ptr<Record> record_;
};
