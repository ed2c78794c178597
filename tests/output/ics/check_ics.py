#!/usr/bin/env python3
"""Reads exported iCalendar files back with python3-icalendar and
python3-vobject, expands each recurring series with python3-dateutil (the
file's own VTIMEZONEs, RRULE, EXDATE and RECURRENCE-ID) and compares the
result with what the test says the source held.

  check_ics.py EXPECT.json   EXPECT: [{"file": PATH, "components": {SUMMARY: WANT}}]

WANT holds any of: kind (VEVENT, VTODO, VJOURNAL), zone (the real zone the
source's times are in, for "occurrences" and "start"), occurrences (local
times "YYYY-MM-DDTHH:MM" of every occurrence, in order), overrides
({local start: {summary, location, description}}), start / end (local
time, or "YYYY-MM-DD" for a date), class, location, description,
organizer, attendees ([[address, role, partstat, cn]...]), alarm (minutes
before), status, percent, due (date), completed (UTC "YYYY-MM-DDTHH:MM").
A file whose "components" is null only has to be read by both.
Prints every mismatch and exits 1 when there is one."""
import datetime
import io
import json
import sys
import zoneinfo

import icalendar
from icalendar.windows_to_olson import WINDOWS_TO_OLSON
import vobject
from dateutil import rrule, tz

problems = []
UTC = datetime.timezone.utc


def fail(where, what):
    problems.append(f"{where}: {what}")


def local(text, zone):
    if len(text) == 10:
        return datetime.date.fromisoformat(text)
    return datetime.datetime.fromisoformat(text).replace(tzinfo=zoneinfo.ZoneInfo(zone) if zone else UTC)


def when(prop, zones):
    """The property's value as an aware datetime in the file's own zone, or a date."""
    value = prop.dt
    if not isinstance(value, datetime.datetime):
        return value
    tzid = prop.params.get("TZID")
    if tzid:
        zone = zones.get(tzid)
        if zone is None:
            raise ValueError(f"no VTIMEZONE {tzid}")
        return value.replace(tzinfo=None).replace(tzinfo=zone)
    if value.tzinfo is None:
        raise ValueError("a floating time where the source has a zone")
    return value


def same_instant(a, b):
    if isinstance(a, datetime.datetime) and isinstance(b, datetime.datetime):
        return a.astimezone(UTC) == b.astimezone(UTC)
    return a == b


def occurrences(master, overrides, zones):
    start = when(master["DTSTART"], zones)
    rules = rrule.rruleset()
    rules.rrule(rrule.rrulestr(master["RRULE"].to_ical().decode(), dtstart=start))
    exdates = master.get("EXDATE", [])
    for ex in exdates if isinstance(exdates, list) else [exdates]:
        for d in ex.dts:
            rules.exdate(when(d, zones))
    for o in overrides:
        rules.exdate(when(o["RECURRENCE-ID"], zones))
        rules.rdate(when(o["DTSTART"], zones))
    return list(rules)


def check_component(where, comp, want, zones, overrides):
    def same(name, got, expected):
        if got != expected:
            fail(where, f"{name} {got!r} != {expected!r}")

    zone = want.get("zone")
    if "kind" in want:
        same("kind", comp.name, want["kind"])
    for field in ("location", "description", "status", "class"):
        if field in want:
            same(field, str(comp.get(field.upper(), "")), want[field])
    if "percent" in want:
        same("percent", int(comp.get("PERCENT-COMPLETE", -1)), want["percent"])
    if "organizer" in want:
        same("organizer", str(comp.get("ORGANIZER", "")), want["organizer"])
    if "attendees" in want:
        attendees = comp.get("ATTENDEE", [])
        attendees = attendees if isinstance(attendees, list) else [attendees]
        got = [[str(a), a.params.get("ROLE"), a.params.get("PARTSTAT"), a.params.get("CN")] for a in attendees]
        same("attendees", got, want["attendees"])
    if "alarm" in want:
        alarms = [c for c in comp.subcomponents if c.name == "VALARM"]
        got = [-int(a["TRIGGER"].dt.total_seconds() // 60) for a in alarms]
        same("alarm", got, [want["alarm"]])
    for field, prop in (("start", "DTSTART"), ("end", "DTEND"), ("due", "DUE")):
        if field in want:
            got = when(comp[prop], zones) if prop in comp else None
            if got is None or not same_instant(got, local(want[field], zone)) or type(got) is not type(local(want[field], zone)):
                fail(where, f"{field} {got!r} != {want[field]!r} in {zone}")
    if "completed" in want:
        got = comp["COMPLETED"].dt if "COMPLETED" in comp else None
        if got is None or not same_instant(got, local(want["completed"], None)):
            fail(where, f"completed {got!r} != {want['completed']!r}")
    if "occurrences" in want:
        got = occurrences(comp, overrides, zones)
        expected = [local(t, zone) for t in want["occurrences"]]
        if len(got) != len(expected) or not all(same_instant(a, b) for a, b in zip(got, expected)):
            fail(where, f"occurrences {[g.astimezone(UTC).isoformat() for g in got]} != "
                        f"{[e.astimezone(UTC).isoformat() for e in expected]}")
    if "overrides" in want:
        by_start = {}
        for o in overrides:
            by_start[when(o["DTSTART"], zones).astimezone(UTC)] = o
        for start, fields in want["overrides"].items():
            o = by_start.get(local(start, zone).astimezone(UTC))
            if o is None:
                fail(where, f"no changed occurrence at {start}")
                continue
            for field, value in fields.items():
                same(f"override {start} {field}", str(o.get(field.upper(), "")), value)


def main():
    with open(sys.argv[1], encoding="utf-8") as f:
        expected = json.load(f)
    for entry in expected:
        path = entry["file"]
        with open(path, "rb") as f:
            data = f.read()
        try:
            cal = icalendar.Calendar.from_ical(data)
            list(vobject.readComponents(data.decode("utf-8")))
            zones = {}
            for z in cal.walk("VTIMEZONE"):
                zone = tz.tzical(io.StringIO(z.to_ical().decode())).get()
                # icalendar renames a Windows zone's TZID parameter to its
                # Olson name; the file's own rules still apply.
                for name in (str(z["TZID"]), WINDOWS_TO_OLSON.get(str(z["TZID"]))):
                    if name:
                        zones[name] = zone
        except Exception as e:  # any failure to read is what the test looks for
            fail(path, f"not read: {e!r}")
            continue
        want = entry.get("components")
        if want is None:
            continue
        comps = [c for c in cal.subcomponents if c.name in ("VEVENT", "VTODO", "VJOURNAL")]
        masters = {}
        overrides = {}
        for c in comps:
            if "RECURRENCE-ID" in c:
                overrides.setdefault(str(c["UID"]), []).append(c)
            else:
                masters[str(c.get("SUMMARY", ""))] = c
        if sorted(masters) != sorted(want):
            fail(path, f"components {sorted(masters)} != {sorted(want)}")
        for summary, w in want.items():
            if summary in masters:
                try:
                    c = masters[summary]
                    check_component(f"{path}#{summary}", c, w, zones, overrides.get(str(c["UID"]), []))
                except Exception as e:
                    fail(f"{path}#{summary}", f"not read: {e!r}")
    for p in problems:
        print(p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
