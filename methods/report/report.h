// The two forms of quellmar-info's report: plain text for people, one
// JSON document for programs.

#ifndef QUELLMAR_COMPANIONS_INFO_REPORT_H
#define QUELLMAR_COMPANIONS_INFO_REPORT_H

#include <string>

#include "methods/report/summary.h"

namespace quellmar::companions {

std::string info_text(const InfoSummary& summary);
std::string info_json(const InfoSummary& summary);

}  // namespace quellmar::companions

#endif  // QUELLMAR_COMPANIONS_INFO_REPORT_H
