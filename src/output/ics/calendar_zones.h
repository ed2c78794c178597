// The time zones one calendar file uses, each written once as a VTIMEZONE.
#pragma once

#include <map>
#include <string>

#include "output/ics/time_zone_rule.h"

namespace bm::ics {

class ZoneSet {
public:
    // The TZID the zone is written under: its key name, or "Zone N" for
    // one without; two different zones of one name get " (2)", ... added.
    std::string Use(const TimeZone& zone);
    // Every zone used, as VTIMEZONE components.
    std::string Text() const;

private:
    std::map<std::string, std::string> tzidOfRules_;  // the rules' key -> TZID
    std::map<std::string, std::string> components_;   // TZID -> VTIMEZONE text
};

// The VTIMEZONE of the zone under `tzid`: per rule a STANDARD and a
// DAYLIGHT part from the rule's first year (1970 for the first rule) to
// the next rule's, the last rule's recurring yearly and the earlier ones'
// changes listed as RDATEs; one STANDARD part for a zone without daylight
// saving time.
std::string VtimezoneText(const TimeZone& zone, const std::string& tzid);

}  // namespace bm::ics
