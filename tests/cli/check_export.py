#!/usr/bin/env python3
"""Reads an export folder back with independent readers and holds it to the
account the export printed.

  check_export.py EXPORT-FOLDER FORMAT ACCOUNT.json [EXPECTED.json]

FORMAT is mbox, maildir or eml; ACCOUNT.json is the export's --json object.
Every message must parse with Python's email package (policy default) with
no defect on any part; Python's mailbox module must read each MBOX file and
Maildir folder; for a Maildir, notmuch (when installed) must index every
file; python3-icalendar must read every .ics and python3-vobject every
.vcf. The messages, cards and calendar items found must be what the account
says was written, and per folder what it says was saved there.

EXPECTED.json, when given, names what particular items must have come
through as the source holds them:
  {"series": {SUMMARY: {"zone": ZONE, "occurrences": [LOCAL TIME...]}},
   "signed": {SUBJECT: {"entity": PATH, "content": TEXT}}}
A series' occurrences are expanded with python3-dateutil from the .ics
file's own VTIMEZONEs, RRULE, EXDATE and RECURRENCE-ID and must fall on the
instants of the local times ("YYYY-MM-DDTHH:MM") in the real zone ZONE. A
signed mail must be found once, hold the signed entity at PATH byte for
byte, and `openssl smime -verify -noverify` of the message as exported must
succeed and give back TEXT.
Prints every mismatch and exits 1 when there is one."""
import datetime
import email
import email.policy
import json
import mailbox
import os
import re
import shutil
import subprocess
import sys
import tempfile

problems = []
# (where, Subject, bytes) of every message read back.
messages = []


def fail(what):
    problems.append(what)


def parse(where, data, kept=None):
    """`kept`: the message's own bytes where `data` is not (an MBOX's)."""
    message = email.message_from_bytes(data, policy=email.policy.default)
    messages.append((where, str(message.get("Subject", "")), data if kept is None else kept))
    for part in message.walk():
        for d in part.defects:
            fail(f"{where}: defect in {part.get_content_type()}: {d!r}")
        for name, value in part.items():
            for d in getattr(value, "defects", ()):
                fail(f"{where}: defect in header {name}: {d!r}")


def mbox_folders(root):
    """Folder path (names joined by "\\") -> messages, Thunderbird's layout."""
    out = {}
    for directory, _, files in os.walk(root):
        rel = os.path.relpath(directory, root)
        parents = [] if rel == "." else [p[:-4] for p in rel.split(os.sep)]
        for name in files:
            path = os.path.join(directory, name)
            box = mailbox.mbox(path, create=False)
            count = 0
            for key in box.keys():
                data = box.get_bytes(key)
                # mboxrd: a reader takes one ">" off each quoted "From " line.
                parse(path, data, re.sub(rb"(?m)^>(>*From )", rb"\1", data))
                count += 1
            out["\\".join(parents + [name])] = count
    return out


def maildir_folders(root):
    out = {}
    top = mailbox.Maildir(root, factory=None, create=False)
    for name in [""] + top.list_folders():
        box = top if name == "" else top.get_folder(name)
        count = 0
        for key in box.keys():
            parse(f"{name or '(top)'}:{key}", box.get_bytes(key))
            count += 1
        if count or name:
            out[name.replace(".", "\\")] = count
    return out


def eml_folders(root):
    out = {}
    for directory, _, files in os.walk(root):
        rel = os.path.relpath(directory, root)
        key = "" if rel == "." else rel.replace(os.sep, "\\")
        emls = [f for f in files if f.endswith(".eml")]
        if len(emls) != len(files):
            fail(f"{directory}: files other than .eml: {sorted(set(files) - set(emls))}")
        for name in emls:
            with open(os.path.join(directory, name), "rb") as f:
                parse(os.path.join(directory, name), f.read())
        if emls or key:
            out[key] = len(emls)
    return out


def notmuch_files(root):
    """Files notmuch indexes in the Maildir, or None without notmuch."""
    if shutil.which("notmuch") is None:
        return None
    with tempfile.TemporaryDirectory() as home:
        config = os.path.join(home, "notmuch-config")
        with open(config, "w") as f:
            f.write(f"[database]\npath={root}\n[new]\ntags=new\n")
        env = dict(os.environ, NOTMUCH_CONFIG=config, HOME=home)
        subprocess.run(["notmuch", "new", "--quiet"], env=env, check=True, capture_output=True)
        count = subprocess.run(["notmuch", "count", "--output=files", "*"], env=env, check=True,
                               capture_output=True, text=True)
        # notmuch keeps its database inside the folder it indexes.
        shutil.rmtree(os.path.join(root, ".notmuch"), ignore_errors=True)
        return int(count.stdout.strip())


def side_files(root, calendars):
    """Folder path -> (cards, calendar items) from the .vcf and .ics files;
    each calendar read goes into `calendars`."""
    import icalendar
    import vobject
    out = {}
    for name in sorted(os.listdir(root)) if os.path.isdir(root) else []:
        path = os.path.join(root, name)
        stem, ext = os.path.splitext(name)
        cards, events = out.get(stem.replace(".", "\\"), (0, 0))
        with open(path, "rb") as f:
            data = f.read()
        if ext == ".vcf":
            for card in vobject.readComponents(data.decode("utf-8")):
                if card.name != "VCARD":
                    fail(f"{path}: a {card.name} among the cards")
                cards += 1
        elif ext == ".ics":
            calendar = icalendar.Calendar.from_ical(data)
            calendars.append((path, data, calendar))
            for c in calendar.walk():
                # A changed occurrence is part of its series' item.
                if c.name in ("VEVENT", "VTODO", "VJOURNAL") and "RECURRENCE-ID" not in c:
                    events += 1
        else:
            fail(f"{path}: neither a .vcf nor an .ics file")
        out[stem.replace(".", "\\")] = (cards, events)
    return out


def check_series(calendars, series):
    """Each series' occurrences as dateutil expands them from the file."""
    import io
    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "output", "ics"))
    import check_ics
    from dateutil import tz
    from icalendar.windows_to_olson import WINDOWS_TO_OLSON
    found = {}
    for path, data, calendar in calendars:
        zones = {}
        for z in calendar.walk("VTIMEZONE"):
            zone = tz.tzical(io.StringIO(z.to_ical().decode())).get()
            # icalendar renames a Windows zone's TZID parameter to its
            # Olson name; the file's own rules still apply.
            for name in (str(z["TZID"]), WINDOWS_TO_OLSON.get(str(z["TZID"]))):
                if name:
                    zones[name] = zone
        components = [c for c in calendar.subcomponents if c.name == "VEVENT"]
        for master in components:
            summary = str(master.get("SUMMARY", ""))
            if "RECURRENCE-ID" in master or summary not in series:
                continue
            overrides = [c for c in components if "RECURRENCE-ID" in c and str(c["UID"]) == str(master["UID"])]
            found.setdefault(summary, []).append((path, master, overrides, zones))
    for summary, want in series.items():
        if len(found.get(summary, [])) != 1:
            fail(f"series {summary!r} found {len(found.get(summary, []))} times")
            continue
        path, master, overrides, zones = found[summary][0]
        if "RRULE" not in master:
            fail(f"{path}: series {summary!r} has no RRULE")
            continue
        try:
            got = check_ics.occurrences(master, overrides, zones)
        except Exception as e:  # any failure to expand is what the test looks for
            fail(f"{path}: series {summary!r} not expanded: {e!r}")
            continue
        expected = [check_ics.local(t, want["zone"]) for t in want["occurrences"]]
        if len(got) != len(expected) or not all(check_ics.same_instant(a, b) for a, b in zip(got, expected)):
            utc = datetime.timezone.utc
            fail(f"{path}: series {summary!r} occurs at {[g.astimezone(utc).isoformat() for g in got]}, "
                 f"the source at {[e.astimezone(utc).isoformat() for e in expected]}")


def check_signed(signed):
    """Each signed mail as exported still verifies."""
    for subject, want in signed.items():
        found = [(where, data) for where, s, data in messages if s == subject]
        if len(found) != 1:
            fail(f"signed mail {subject!r} found {len(found)} times")
            continue
        where, data = found[0]
        with open(want["entity"], "rb") as f:
            entity = f.read()
        if entity not in data:
            fail(f"{where}: the signed entity is not in the exported message byte for byte")
        with tempfile.TemporaryDirectory() as scratch:
            exported = os.path.join(scratch, "exported.eml")
            verified = os.path.join(scratch, "verified.txt")
            with open(exported, "wb") as f:
                f.write(data)
            run = subprocess.run(["openssl", "smime", "-verify", "-noverify", "-text", "-in", exported, "-out",
                                  verified], capture_output=True, text=True)
            if run.returncode != 0:
                fail(f"{where}: openssl smime -verify failed: {run.stderr.strip()}")
                continue
            with open(verified, "rb") as f:
                content = f.read()
            if content != want["content"].encode():
                fail(f"{where}: verified content {content!r} != {want['content']!r}")


def main():
    folder, format_, account_file = sys.argv[1:4]
    with open(account_file) as f:
        account = json.load(f)
    expected = {}
    if len(sys.argv) > 4:
        with open(sys.argv[4]) as f:
            expected = json.load(f)
    mail_root = os.path.join(folder, "Mail")
    reader = {"mbox": mbox_folders, "maildir": maildir_folders, "eml": eml_folders}[format_]
    mail = reader(mail_root) if os.path.isdir(mail_root) else {}
    calendars = []
    sides = side_files(os.path.join(folder, "Contacts and calendars"), calendars)
    written = account["written"]
    if sum(mail.values()) != written["messages"]:
        fail(f"{sum(mail.values())} messages read back, {written['messages']} written: {mail}")
    if sum(c for c, _ in sides.values()) != written["contacts"]:
        fail(f"cards read back {sides}, {written['contacts']} written")
    if sum(e for _, e in sides.values()) != written["calendarItems"]:
        fail(f"calendar items read back {sides}, {written['calendarItems']} written")
    if format_ == "maildir" and os.path.isdir(mail_root):
        indexed = notmuch_files(mail_root)
        if indexed is not None and indexed != written["messages"]:
            fail(f"notmuch indexed {indexed} files of {written['messages']} messages")
    # What each folder holds in the export is what the account saved there.
    for tally in account["reconciliation"]["folders"]:
        path = tally["path"].rstrip("\\").split("\\", 1)
        # Items of the top folder itself go to a folder of their own.
        key = path[1] if len(path) > 1 else "Top of the store"
        cards, events = sides.get(key, (0, 0))
        got = mail.get(key, 0) + cards + events
        if got != tally["saved"]:
            fail(f"{tally['path']}: {got} read back ({mail.get(key, 0)} mail, {cards} cards, {events} "
                 f"calendar items), {tally['saved']} saved")
    check_series(calendars, expected.get("series", {}))
    check_signed(expected.get("signed", {}))
    for p in problems:
        print(p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
