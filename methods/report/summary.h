// What quellmar-info reports about a file pair, gathered from a record
// scan and from reading every HeaderBlock the records name.

#ifndef QUELLMAR_COMPANIONS_INFO_SUMMARY_H
#define QUELLMAR_COMPANIONS_INFO_SUMMARY_H

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "disk/pda.h"
#include "methods/pairs/pair_scan.h"

namespace quellmar::companions {

struct HeaderBlockView {
  int32_t offset = 0;      // in the header file
  int status = 0;          // the header reader's result: 0 read whole
  ParameterBlock block{};  // valid when status is 0, -3 or -4
  int64_t records = 0;     // records that name it
};

struct RecordGroup {
  int32_t radar = 0;
  int32_t beam = 0;
  int32_t mode = -1;
  int64_t count = 0;
  int32_t first_time = 0;  // earliest record time
  int32_t last_time = 0;   // latest record time
};

// What a run of quellmar on the pair writes: the first record of the data
// file (whatever its radar), then the later records of radar 0 in file
// order, up to and including the first at or after the stop time the
// name's date gives. The records of radar 0 after that one are left out.
struct ToolRun {
  NameDate name_date = NameDate::kRead;  // kRead: the rest is set
  int64_t stop_time = 0;                 // seconds since 1970
  int64_t records = 0;                   // written
  int64_t left_out = 0;                  // of radar 0, past the last written
};

struct InfoSummary {
  PairInput input;
  std::vector<HeaderBlockView> blocks;  // in the order first named
  std::vector<RecordGroup> groups;      // by radar, beam, mode
  std::vector<std::pair<int32_t, int64_t>> datacodes;  // code, records
  std::vector<std::pair<char, int64_t>> layouts;       // layout, records
  int64_t record_count = 0;
  int32_t first_time = 0;
  int32_t last_time = 0;
  int64_t end_offset = 0;  // where the record walk stopped
  std::vector<Damage> damage;
  ToolRun tool_run;
};

// Reads every HeaderBlock the scan met (this replaces the module's
// parameter block) and groups the records.
InfoSummary summarize(const PairInput& input, const ScanResult& scan);

// What quellmar writes from the records of the pair of the data file
// named name (without its folder).
ToolRun tool_run(const std::string& name,
                 const std::vector<RecordFacts>& records);

// Why quellmar refuses a name whose date cannot be taken.
const char* name_date_text(NameDate result);

// Words for a header reader result.
const char* header_status_text(int status);

// Site, radar and direction names: the field up to its NUL.
std::string field_text(const char* field, size_t width);

// The beams of a block that the records can use: the first beam_count
// entries, at most the table's ten.
int32_t usable_beams(const ParameterBlock& block);

// The modes that the usable beams of a block name, in ascending order.
std::vector<int32_t> modes_in_use(const ParameterBlock& block);

// Whether a mode's dwells are RASS dwells: spectra of kRassSpectralPoints
// points or more.
bool rass_mode(const ModeEntry& mode);

}  // namespace quellmar::companions

#endif  // QUELLMAR_COMPANIONS_INFO_SUMMARY_H
