// Profiler data-file access: the one public interface of the disk module.
//
// A profiler archive is a pair of files: a data file ("d..." name) holding a
// plain sequence of records, one per dwell of one beam, and a header file
// ("h..." name) holding HeaderBlocks of operating parameters. Each record
// names the HeaderBlock that applies to it by its byte offset in the header
// file. Both files are little-endian and packed.
//
// All state is module-wide and belongs to the one open file pair: no
// operation takes a handle, and operations must not be interleaved from
// several threads.
//
// Result conventions:
//   - queries and selections return 1 for success and 0 for failure;
//   - positioning operations return 1 for success and 0 for failure;
//   - readers return 0 for success and negative codes for failures
//     (the record-header reader also 1 for a clean end of data).
// Integers that leave the module are signed 32-bit, widened with their sign
// from the 16-bit fields of the files.
//
// Problems are reported with messages beginning "disk: ", on standard output
// unless the program sends them elsewhere (pda_set_message_stream); the
// module ends the process only when the decoder cannot allocate its arrays
// (status 2), unless the program asks for that failure to be returned
// (pda_set_exit_on_allocation_failure).

#ifndef QUELLMAR_DISK_PDA_H
#define QUELLMAR_DISK_PDA_H

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

// ---------------------------------------------------------------------------
// Calendar and time stamps

// Year counted from 1900, day of year from 1, hour, minute, second; ordered
// field by field.
struct TimeKey {
  int32_t year;  // years since 1900 (2002 is 102)
  int32_t day;   // day of the year, 1 = 1 January
  int32_t hour;
  int32_t minute;
  int32_t second;
};

// Row 0 serves common years, row 1 leap years; entry 0 of each row is 0 and
// entries 1..12 are the lengths of January..December.
extern const int32_t month_lengths[2][13];

// True for full calendar years (2000, not 100) divisible by 4 and not by
// 100, or divisible by 400.
bool is_leap_year(int32_t year);

// 1 if a is later than b, -1 if earlier, 0 if all five fields are equal.
int pda_compare_time(const TimeKey& a, const TimeKey& b);

// Day of the year (1 January is 1). REQUIRES: month in 1..12.
int32_t day_of_year(int32_t year, int32_t month, int32_t day);

// Month (1..12) and day of month of a day of the year. Always returns 0.
// A day count of 0 or less gives month 1 and the count unchanged.
int month_and_day(int32_t year, int32_t day_of_year, int32_t* month,
                  int32_t* day);

// Breaks seconds since 1970-01-01 00:00:00 UTC into a TimeKey, proleptic
// Gregorian, for any value (negative ones included).
TimeKey pda_time_key_from_seconds(int64_t seconds);

// Seconds since 1970-01-01 00:00:00 UTC of a full calendar year, month
// (1..12), day of month and time of day, for any year.
int64_t pda_seconds_from_date(int64_t year, int32_t month, int32_t day,
                              int32_t hour, int32_t minute, int32_t second);

// Writes the current record's TimeKey fields and returns its record_time.
// REQUIRES: a record is current (after a successful pda_set_file).
int32_t pda_get_time(int32_t* year, int32_t* day, int32_t* hour,
                     int32_t* minute, int32_t* second);

// ---------------------------------------------------------------------------
// Parameter block (the current HeaderBlock)

constexpr int kModeCount = 4;
constexpr int kBeamCount = 10;
constexpr int kDirectionCount = 9;
constexpr int kMaxMetInstruments = 256;
constexpr int kMetValueCapacity = 1024;

// Records whose spectra have this many points or more are RASS records,
// those with fewer wind records.
constexpr int32_t kRassSpectralPoints = 2048;

// Fields named kept_NN are read and kept but used by nothing; NN is the
// field's byte offset: within its entry for ModeEntry (32 bytes) and
// DirectionEntry (18 bytes), and from the start of the HeaderBlock of
// versions 100 to 102 for RadarRecord (12 more from version 103 on, where
// the site part starts at 16 instead of 4).
struct ModeEntry {
  int32_t ipp_ns;
  int32_t pulse_width;
  int32_t first_gate_delay_ns;
  int32_t gate_spacing_ns;
  int16_t gate_count;
  int16_t coherent_integrations;  // a data record may replace it
  int16_t spectral_averages;      // a data record may replace it
  int16_t spectral_points;
  int16_t delay_offset_ns;
  int16_t kept_26;
  int16_t kept_28;
  int16_t mode_extra;
};

struct BeamEntry {
  int16_t direction_index;
  int16_t mode_index;
};

struct DirectionEntry {
  char direction_name[12];
  int16_t azimuth;
  int16_t elevation;  // above 90: hundredths of a degree until converted
  int16_t kept_16;
};

struct RadarRecord {
  char radar_name[32];
  int16_t radar_value;
  int32_t tx_frequency;  // hundredths of a megahertz
  int32_t kept_84;
  int16_t kept_88[3];
  int16_t beam_count;
  int16_t kept_96;
  ModeEntry modes[kModeCount];
  BeamEntry beams[kBeamCount];
  int32_t kept_286[5];
  DirectionEntry directions[kDirectionCount];
  int16_t pulse_table_keys[4];
  int16_t pulse_table_values[4];
  int16_t kept_484[4];
  int16_t window1_start;  // first point of window 1, counted from 1
  int16_t window1_points;
  int16_t window2_start;      // first point of window 2, counted from 1
  int16_t window2_points;     // 1 means there is no window 2
  int16_t spectrum_extra[6];  // [0] is the window-2 placement flag
  int16_t kept_512;
  int16_t kept_514[25];
};

struct ParameterBlock {
  int16_t header_version;
  int16_t met_instrument_count;
  int16_t met_instrument_list[kMaxMetInstruments];
  char site_name[32];
  int16_t site_value_1;
  int16_t site_value_2;
  int16_t site_value_3;
  int16_t site_value_4;
  int16_t radar_count;
  RadarRecord radars[1];
};

// The module-wide parameter block and selection state.
extern ParameterBlock pda_parameters;
extern int32_t selected_radar;  // -1 means any radar
extern int32_t selected_beam;   // -1 means any beam

// Reads one HeaderBlock from the header file at its present position.
// Returns 0 on success; -1 when the version cannot be read; -10 for a
// version outside 100..999; -4 for a block cut before its closing field;
// -3 for a met instrument list that is too long or cut short.
int pda_read_header_block();

void pda_get_site_name(char name[32]);
void pda_get_site_values(int32_t* value_1, int32_t* value_2);
int32_t pda_get_site_value_3();
int32_t pda_get_site_value_4();
int32_t pda_get_radar_count();
int pda_get_radar_info(int32_t radar, char name[32], int32_t* radar_value,
                       int32_t* tx_frequency);
int32_t pda_get_beam_count(int32_t radar);
int pda_select_radar(int32_t radar);
int pda_select_beam(int32_t beam);
int32_t pda_get_record_beam();
int32_t pda_get_record_radar();
int32_t pda_get_record_datacode();

// What a record's datacode (and, for records before datacode 3000, the
// spectra flag in force) says about its layout:
//   datacode >= 3000       layout N: its own spectra flag, met values, a
//                          4-byte length and trailer
//   else spectra flag set  layout S: 4-byte length and trailer
//   else                   layout M: 2-byte length and trailer
//   hundreds digit 0       the 8-bit moment encoding ("x0xx"), else 16-bit
//   last two digits 16     a second moment set
//   last two digits 17     a second moment set (16-bit encoding only) and
//                          spectra stored by point number
struct DatacodeTraits {
  char layout = 'M';          // 'M', 'S' or 'N'
  int32_t trailer_width = 2;  // bytes of the length field and the trailer
  bool met_values = false;
  bool encoding16 = false;
  bool second_set = false;
  bool positional_spectra = false;
};
DatacodeTraits pda_describe_datacode(int32_t datacode, int32_t spectra_flag);

// Where the spectral windows lie in a gate's row of decoded spectra. With
// two windows (window 2 of more than one point), compact rows hold window
// 2's values first (from row index 0), then window 1's; with one window,
// window 1's from index 0. Positional rows (datacode ending in 17) hold
// each value at its point number: window 1 from index window1_start, window
// 2 from window2_start.
struct WindowRows {
  bool two_windows = false;
  int64_t window1_row = 0;  // row index of window 1's first value
  int64_t window2_row = 0;  // row index of window 2's first value
};
WindowRows pda_locate_windows(int32_t window1_start, int32_t window2_start,
                              int32_t window2_points, bool positional);

// The spectrum line of a gate: what the .ras text file prints after the
// gate number and what the netCDF export stores, rebuilt from the gate's
// decoded row of row_length values.
//   - two windows: spectral_points values, the k-th being spectral point k
//     (counted from 1): window 1's values at their points, then, when the
//     placement flag is 1, window 2's (over window 1 where they meet), 0
//     elsewhere;
//   - one window: window 1's values in point order (for compact rows no
//     more than the row holds).
// A row index outside the row reads as 0.
struct SpectrumLineShape {
  int32_t window1_start = 1;
  int32_t window1_points = 0;
  int32_t window2_start = 1;
  int32_t window2_points = 1;
  int32_t placement = 0;  // the window-2 placement flag
  int64_t spectral_points = 0;
  bool positional = false;  // datacode ending in 17
};
int64_t pda_spectrum_line_length(const SpectrumLineShape& shape,
                                 int64_t row_length);
// REQUIRES: line has room for pda_spectrum_line_length(shape, row_length).
void pda_spectrum_line(const SpectrumLineShape& shape, const float* row,
                       int64_t row_length, float* line);
// The spectrum of a gate over its spectral points, for computing with it:
// values[k - 1] is spectral point k (counted from 1, k = 1 ..
// shape.spectral_points), taken from the gate's decoded row of row_length
// values. Both windows are placed at their points whatever the placement
// flag (window 1 over window 2 where they meet); present[k - 1] is 0, and
// values[k - 1] 0, for a point outside every window or whose row index lies
// outside the row: such a point is missing, not a measured zero.
// REQUIRES: values and present have room for shape.spectral_points entries.
void pda_spectrum_points(const SpectrumLineShape& shape, const float* row,
                         int64_t row_length, float* values,
                         unsigned char* present);
// True for a data-file name that names a spectra file: one ending in "spc"
// or "SPC" (the ending alone decides; "d02123a.Spc" is a moments name).
bool pda_is_spectra_name(const std::string& name);
// The date a data-file name (without its folder) holds. The first 'a',
// or the first 'A' when there is none, marks it: as the seventh character
// the name holds a two-digit year and a three-digit day ("d02123a.mom"),
// otherwise a three-digit year ("d102123a.spc"); two-digit years 0 to 69
// are 2000 to 2069. *year is counted from 1900.
enum class NameDate { kRead, kNoLetter, kUnreadable };
NameDate pda_name_date(const std::string& file_name, int32_t* year,
                       int32_t* day_of_year);
// Where a run of the text tool on a name of that date stops: 00:00:00 UTC
// of day (day_of_year + 2) of the year 1900 + year, carried across year
// ends in either direction, in seconds since 1970.
int64_t pda_stop_time_for(int32_t year, int32_t day_of_year);
// A linear signal power in dB (10 log10), held as a float; 0 for values
// that are not positive. The text files and the netCDF export both print
// powers this way.
float pda_power_db(float x);
// Doppler velocity in m/s of spectral point k (counted from 1) of a
// spectrum of spectral_points points and Nyquist velocity nyquist_ms:
// (k - 1 - P/2) * 2V/P, so point P/2 + 1 is 0 m/s, point 1 is -V, and
// velocities are positive away from the radar (the sign of the stored
// velocities). 0 when spectral_points is not positive.
double pda_doppler_velocity_ms(int64_t point, int64_t spectral_points,
                               double nyquist_ms);
// Length, HeaderBlock offset and data-file offset of the record whose
// RecordHeader was read last, and the spectra flag now in force.
int32_t pda_get_record_length();
int32_t pda_get_record_header_offset();
int64_t pda_get_record_offset();
int32_t pda_get_spectra_flag();
// HeaderBlock offset now held in the parameter block; -1 when none.
int32_t pda_get_loaded_header_offset();

// Positions the header file of the open pair at offset and reads one
// HeaderBlock there (as pda_read_header_block). -1 when no pair is open or
// the offset cannot be positioned. The record reader does not learn of the
// load: the next record naming another offset loads its own block.
int pda_read_header_block_at(int32_t offset);
int32_t pda_get_met_instruments(int32_t* instruments);

// ---------------------------------------------------------------------------
// Beam information

struct BeamInfo {
  int32_t azimuth;
  int32_t elevation;  // degrees
  int32_t ipp_ns;
  int32_t pulse_width;
  int32_t first_gate_delay_ns;
  int32_t gate_spacing_ns;
  int32_t delay_offset_ns;
  int32_t first_gate_height_m;
  int32_t gate_spacing_m;
  int32_t gate_count;
  int32_t coherent_integrations;
  int32_t spectral_averages;
  int32_t spectral_points;
  int32_t pulse_table_value;  // -1 when no pulse table key matches
  int32_t mode_extra;
};

extern BeamInfo pda_beam_info;

// Gate geometry, the one rule for where range gates lie (BeamInfo's heights
// and every program's ranges and heights come from it).
//
// Two-way delay in nanoseconds to the centre of gate g (from 0): the first
// gate's delay less the delay offset, plus g gate spacings, in 64 bits.
int64_t pda_gate_delay_ns(int32_t first_gate_delay_ns, int32_t delay_offset_ns,
                          int32_t gate_spacing_ns, int64_t gate);
// Metres of slant range of a two-way delay: 0.15 m per nanosecond.
double pda_range_of_delay_m(int64_t delay_ns);
// The factor that turns slant range into height above the radar: for an
// elevation above 0 degrees, sin(elevation x 3.141592 / 180) held in single
// precision (pi to six decimals); 1.0 for an elevation of 0 or below.
float pda_height_sine(double elevation_deg);
// A direction's elevation in degrees: a stored value above 90 is in
// hundredths of a degree (7550 is 75.5).
float pda_elevation_degrees(int16_t stored);
// Height above the radar in metres of the centre of gate g (from 0) of a
// beam at the elevation: slant range x height sine, unrounded.
double pda_gate_height_m(int32_t first_gate_delay_ns, int32_t delay_offset_ns,
                         int32_t gate_spacing_ns, int64_t gate,
                         double elevation_deg);

// Fills pda_beam_info and the direction name (at least 12 bytes) for a beam
// of the selected radar. 0, with nothing written, when the selected radar or
// the beam is out of range or the beam's table entries are unusable.
int pda_get_beam_info(int32_t beam, char* direction_name);

// Stores window1_start, window1_points, window2_start, window2_points and
// spectrum_extra[1..5]; returns spectrum_extra[0] (the placement flag).
int32_t pda_get_spectrum_windows(int32_t* window1_start,
                                 int32_t* window1_points,
                                 int32_t* window2_start,
                                 int32_t* window2_points, int32_t* extra1,
                                 int32_t* extra2, int32_t* extra3,
                                 int32_t* extra4, int32_t* extra5);

// Position of spectral point (from 0) of gate (from 0) in a gate-major store
// of windowed spectra, or -1.
int32_t pda_spectrum_index(int32_t point, int32_t gate);

// Nyquist velocity of the current record's mode in m/s; 0 when the
// frequency, the inter-pulse period or the integrations are 0.
float pda_get_nyquist_velocity();

// ---------------------------------------------------------------------------
// Data records

// Per-gate arrays of the current record. Each of the ten moment arrays holds
// gate_count floats; spectra holds gate_count rows of row_length
// (spectral_points + 1) floats. Renewed by every decode; the caller releases
// them with pda_release_moments before it causes the next decode.
struct MomentArrays {
  std::vector<float> velocity;       // m/s
  std::vector<float> width;          // m/s
  std::vector<float> snr;            // dB
  std::vector<float> noise;          // dB
  std::vector<float> signal_power;   // linear
  std::vector<float> velocity2;      // m/s, second set
  std::vector<float> width2;         // m/s, second set
  std::vector<float> snr2;           // dB, second set
  std::vector<float> signal_power2;  // linear, second set
  std::vector<float> aux2;           // stored value / 10, second set
  // Gate-major rows. Records without spectra share one block of zeros,
  // which nothing writes to.
  std::shared_ptr<float[]> spectra;
  int64_t gate_count = 0;
  int64_t row_length = 0;  // spectral_points + 1

  // REQUIRES: 0 <= gate < gate_count.
  const float* spectra_row(int64_t gate) const {
    return spectra.get() + gate * row_length;
  }
};

extern MomentArrays pda_moments;
extern int32_t met_values[kMetValueCapacity];

// Releases the current MomentArrays. The storage of their gate arrays is
// kept for the next decode, so memory does not grow from record to record.
void pda_release_moments();

// Reads the RecordHeader at the present position. 0: read whole; 1: end of
// data; -4: cut short or refused. new_header is 1 when a HeaderBlock was
// loaded.
int pda_read_record_header(int* new_header);

// Moves current_offset and the data file past the current record. Returns 0.
int pda_advance_record();

// count >= 2: forward count - 1 records; 1: nothing; <= 0: back 1 - count
// records. 0 on success, -1 when a RecordHeader cannot be read forward, -2
// when the start of the file (or an unusable trailer) stops a step back.
int pda_skip_records(int32_t count);

// Reads the RecordHeader at the present position and decodes the record
// body into pda_moments. 0, or -2 as pda_decode_record.
int pda_read_record();

// Decodes the body of the record whose RecordHeader was just read. 0; or,
// when the arrays cannot be allocated and the program has asked for the
// failure to be returned (pda_set_exit_on_allocation_failure(0)), -2, with
// DiskProblem::kOutOfMemory noted, the record stepped over and pda_moments
// empty (no gates).
int pda_decode_record();

// 1 when a read of the last decoded record's body met the end of the data
// file (its first moment set, printed as a "Read error", its second set,
// met values or spectra, silently): some of its values were never read and
// stand as 0. 0 for a record decoded whole. Programs that write records
// leave such a record out.
int pda_record_cut_short();

// What the decoder does when it cannot allocate a record's arrays, after
// its message ("disk: can't allocate memory for ... arrays. Fatal."):
// 1 (the default, as the extraction tool needs) ends the process with
// status 2; 0 returns the failure from the operation that decoded (-2 from
// pda_decode_record and pda_read_record, 0 from the positioning
// operations). A program's choice: pda_reset keeps it.
void pda_set_exit_on_allocation_failure(int exit_on_failure);

// ---------------------------------------------------------------------------
// Opening the file pair and positioning

// Why the last pda_set_file failed.
enum class SetFileFailure {
  kNone,
  kOpenFailed,     // a file would not open; pda_set_file_errno() tells why
  kNoWholeRecord,  // the data file holds no whole first RecordHeader
  kAlreadyOpen,    // the name is the pair already open: rewound only
  kEmptyName,
};

// What went wrong last with the open pair. The module keeps it beside the
// "disk: ..." message it prints (a cut RecordHeader prints nothing), so that
// a program can tell problems apart without reading the messages.
enum class DiskProblem {
  kNone,
  kCutRecordHeader,  // the data file ends inside a RecordHeader
  kBadRecordLength,  // value: the length, below the smallest record
  kHeaderReadError,  // value: the header offset whose block is unreadable
  kMomentsCut,       // the data file ends inside the first moment set
  kRecordCut,        // the data file ends inside the second moment set,
                     // the met values or the spectra (no message)
  kMetListTooLong,   // value: the met instrument count
  kMetListCut,       // value: the met instrument count
  kOutOfMemory,      // value: the bytes the decoder asked for
};

// Where the module's "disk: ..." messages go: stdout (the default, the
// extraction tool's standard output), nullptr (nowhere) or any stream the
// program has open. The problems are kept for pda_get_problem whatever the
// messages' way. A program's choice: pda_reset keeps it.
void pda_set_message_stream(std::FILE* stream);

// The last problem since the pair was opened or pda_clear_problem() was
// called: 1 and its code, the data-file offset of the record concerned and
// its value; 0 when there was none.
int pda_get_problem(DiskProblem* code, int64_t* data_offset, int64_t* value);
void pda_clear_problem();

// Reads the trailer (the repeated length) of the record of `length` bytes
// at data-file offset `offset`, `width` (2 or 4) bytes before its end,
// widened with its sign. 1 when the file holds it whole, 0 otherwise. The
// position of the current record is unchanged.
int pda_read_record_trailer(int64_t offset, int32_t length, int32_t width,
                            int32_t* value);

// Opens the pair prefix+name and prefix+('h' + name[1..]). 1 when a new pair
// was opened and its first RecordHeader was read whole; 0 otherwise.
int pda_set_file(const std::string& prefix, const std::string& name,
                 int spectra_flag);
SetFileFailure pda_set_file_failure();
int pda_set_file_errno();
// The path of the file that would not open (kOpenFailed), else empty.
const std::string& pda_set_file_failed_path();
const std::string& pda_data_path();

// The positioning operations: 1 when a record was found and decoded, 0
// when none was (or its arrays could not be allocated, see
// pda_set_exit_on_allocation_failure).
int pda_seek_time(int32_t year, int32_t day, int32_t hour, int32_t minute,
                  int32_t second, int* new_header);
int pda_first_record(int* new_header);
int pda_next_record(int* new_header);

// Byte offset of the current record (the record after the one decoded last,
// once a positioning has decoded one).
int64_t pda_current_offset();

// Closes the pair and returns the module to its state at program start
// (selection, parameter block, record state and reporting flags included;
// the message stream and the allocation failure mode stay as set).
// For tests and for programs that handle several pairs in turn.
void pda_reset();

#endif  // QUELLMAR_DISK_PDA_H
