#!/usr/bin/env python3
"""Reads exported mail back with Python's own email and mailbox packages and
compares it with what the test says the source held.

  check_mail.py messages EXPECT.json   EXPECT: [{"file": PATH, "expect": EXPECT}]
  check_mail.py mbox ROOT EXPECT.json  EXPECT: {"folders": {"Inbox": 2, "Inbox.sbd/Sub": 1}, "flags": {SUBJECT: "RA"}}
  check_mail.py maildir ROOT EXPECT.json  EXPECT: {"folders": {"": 0, "Inbox": 2}, "flags": {SUBJECT: "FRS"}}

EXPECT holds any of: subject, from, to, cc, reply-to (lists of addresses; a group
without members as "group:NAME"), date (Unix seconds), text (the plain body),
html_contains, headers ({name: value}), attachments ([{name, hex, type?}]),
inline ([{cid, hex}]), embedded ([EXPECT...], in order).
Prints every mismatch and exits 1 when there is one."""
import email
import email.policy
import email.utils
import json
import mailbox
import os
import sys

problems = []


def fail(where, what):
    problems.append(f"{where}: {what}")


def check_defects(where, message):
    for part in message.walk():
        for d in part.defects:
            fail(where, f"defect in {part.get_content_type()}: {d!r}")
        for name, value in part.items():
            for d in getattr(value, "defects", ()):
                fail(where, f"defect in header {name}: {d!r}")


def addresses(header):
    out = []
    if header is None:
        return out
    for group in header.groups:
        if group.display_name is not None and not group.addresses:
            out.append("group:" + group.display_name)
        for a in group.addresses:
            out.append(a.addr_spec)
    return out


def leaves(message):
    """The parts of this message that are not inside an embedded one."""
    if message.get_content_maintype() == "multipart":
        for p in message.iter_parts():
            yield from leaves(p)
    else:
        yield message


def check_message(where, msg, expect):
    # Whitespace around a header value does not survive unfolding.
    if "subject" in expect and str(msg["subject"] or "").strip() != expect["subject"].strip():
        fail(where, f"subject {str(msg['subject'])!r} != {expect['subject']!r}")
    for field in ("from", "to", "cc", "reply-to"):
        if field in expect and addresses(msg[field]) != expect[field]:
            fail(where, f"{field} {addresses(msg[field])} != {expect[field]}")
    if "date" in expect:
        got = msg["date"].datetime if msg["date"] is not None else None
        if got is None or int(got.timestamp()) != expect["date"]:
            fail(where, f"date {msg['date']} != {expect['date']}")
    for name, value in expect.get("headers", {}).items():
        if str(msg[name]) != value:
            fail(where, f"header {name} {str(msg[name])!r} != {value!r}")
    if "text" in expect:
        part = msg.get_body(preferencelist=("plain",))
        got = part.get_content().replace("\r\n", "\n").rstrip("\n") if part is not None else None
        if got != expect["text"]:
            fail(where, f"text {got!r} != {expect['text']!r}")
    if "html_contains" in expect:
        part = msg.get_body(preferencelist=("html",))
        got = part.get_content() if part is not None else ""
        if expect["html_contains"] not in got:
            fail(where, f"html {got!r} lacks {expect['html_contains']!r}")
    parts = list(leaves(msg))
    if "attachments" in expect:
        attached = [p for p in parts
                    if p.get_content_disposition() == "attachment" and p.get_content_type() != "message/rfc822"]
        got = [(p.get_filename(), p.get_payload(decode=True).hex()) + ((p.get_content_type(),) if "type" in a else ())
               for p, a in zip(attached, expect["attachments"] + [{}] * len(attached))]
        want = [(a["name"], a["hex"]) + ((a["type"],) if "type" in a else ()) for a in expect["attachments"]]
        if got != want:
            fail(where, f"attachments {got} != {want}")
    if "inline" in expect:
        got = [(p["content-id"], p.get_payload(decode=True).hex()) for p in parts if p["content-id"]]
        want = [("<" + a["cid"] + ">", a["hex"]) for a in expect["inline"]]
        if got != want:
            fail(where, f"inline {got} != {want}")
        related = [p for p in msg.walk() if p.get_content_type() == "multipart/related"]
        if not related or not all(p["content-id"] for p in related[0].iter_parts() if p.get_content_maintype() != "multipart" and p.get_content_type() != "text/html"):
            fail(where, "inline images are not in multipart/related with the HTML")
    if "embedded" in expect:
        inner = [p.get_content() for p in parts if p.get_content_type() == "message/rfc822"]
        if len(inner) != len(expect["embedded"]):
            fail(where, f"{len(inner)} embedded messages, expected {len(expect['embedded'])}")
        for i, (m, e) in enumerate(zip(inner, expect["embedded"])):
            check_message(f"{where}/embedded[{i}]", m, e)


def parse(path):
    with open(path, "rb") as f:
        return email.message_from_binary_file(f, policy=email.policy.default)


def check_messages(expected):
    for entry in expected:
        msg = parse(entry["file"])
        check_defects(entry["file"], msg)
        check_message(entry["file"], msg, entry["expect"])


def check_flags(where, subject, got, expected):
    want = expected.get("flags", {}).get(subject)
    if want is not None and "".join(sorted(got)) != "".join(sorted(want)):
        fail(where, f"flags of {subject!r}: {got!r} != {want!r}")


def reparse(where, message):
    msg = email.message_from_bytes(message.as_bytes(), policy=email.policy.default)
    check_defects(where, msg)
    return msg


def check_mbox(root, expected):
    found = {}
    for dirpath, dirnames, filenames in os.walk(root):
        for name in filenames:
            path = os.path.join(dirpath, name)
            rel = os.path.relpath(path, root)
            box = mailbox.mbox(path, create=False)
            found[rel] = len(box)
            for key, message in box.items():
                msg = reparse(f"{rel}#{key}", message)
                check_flags(rel, str(msg["subject"]), message.get_flags(), expected)
    if found != expected["folders"]:
        fail(root, f"mbox files {found} != {expected['folders']}")


def check_maildir(root, expected):
    top = mailbox.Maildir(root, factory=None, create=False)
    found = {"": len(top)}
    for name in top.list_folders():
        found[name] = len(top.get_folder(name))
    for name in found:
        box = top if name == "" else top.get_folder(name)
        for key, message in box.items():
            msg = reparse(f"{name}#{key}", message)
            check_flags(name, str(msg["subject"]), message.get_flags(), expected)
    if found != expected["folders"]:
        fail(root, f"maildir folders {found} != {expected['folders']}")


def main():
    mode = sys.argv[1]
    with open(sys.argv[-1], encoding="utf-8") as f:
        expected = json.load(f)
    if mode == "messages":
        check_messages(expected)
    elif mode == "mbox":
        check_mbox(sys.argv[2], expected)
    elif mode == "maildir":
        check_maildir(sys.argv[2], expected)
    else:
        fail("usage", f"unknown mode {mode}")
    for p in problems:
        print(p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
