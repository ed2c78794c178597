#!/usr/bin/python3
"""Writes the expected folder and item counts of the shared stores, read by
pypff (libpff), for the command line's end-to-end tests.

For every store it finds the mail folder subtree the way the tool does (the
node named by the message store's IPM-subtree entry ID, bytes 20-23, or
0x2142), and for every folder below it records the path in the tool's form
("Personal Folders\\Inbox\\"), the node id, the container class, and the
message class of every item that libpff hangs under the folder (normal and
associated contents alike, as the item list shows them), and how many of
them are associated items (node type 0x08: views, rules, settings).

From those it derives what `analyze` must report, by the tool's sorting
rules:
  - associated items are no contents: they are neither sorted nor counted;
  - a mail folder is one whose container class is missing or begins with
    "IPF.Note"; it gets a folder record, and so does the subtree root;
  - an item is, by the first rule that matches: a task (class exactly
    "IPM.Task"), a note (exactly "IPM.StickyNote"), a journal item
    ("IPM.Activity..."; counted only with an entry type), an appointment
    ("IPM.Appointment..."), a contact ("IPM.Contact...", or an item of
    another class but "IPM.Note..." that carries a contact property: one of
    CONTACT_IDS, a numeric named property whose number is one of
    CONTACT_LIDS, or an e-mail address with "@" in 0x3003 or in the named
    numbers 0x8048/0x8084), and otherwise a mail message, which counts in the record of its folder, or in the last
    record made so far when its folder has none;
  - a mail message counts in the category whose path prefix its record's
    path begins with.

Run from the project root:
    /usr/bin/python3 tools/expected_folder_counts.py [../shared/stores] [tests/cli/data]
"""
import json
import os
import sys

import pypff

from pff_store import STORES, ipm_subtree_nid, find_folder, numeric_named_ids, open_store, text, text_of

PREFIXES = [
    ("Personal Folders\\Inbox", "Inbox"),
    ("Personal Folders\\Drafts", "Drafts"),
    ("Personal Folders\\Outbox", "Outbox"),
    ("Personal Folders\\Sent Items", "Sent Items"),
    ("Personal Folders\\Sync Issues", "Sync Issues"),
    ("Personal Folders\\Deleted Items", "Deleted Items"),
    ("Personal Folders\\Junk E-mail", "Junk E-mails"),
]
SUMMARY_LABELS = ["Deleted Items", "Inbox", "Outbox", "Journal", "Tasks", "Drafts", "Contacts Items", "Notes",
                  "Calendar", "Junk E-mails", "Sent Items", "Sync Issues"]


LOG_TYPE_IDS = {0x8700, 0x8712}


def message_kind(message_class):
    c = message_class.lower()
    if c.startswith("ipm.note") or c.startswith("ipm.x-") or c == "ipm":
        return "mail"
    if c.startswith("ipm.contact") or c.startswith("ipf.contact"):
        return "contact"
    if c.startswith("report.ipm.note"):
        return "report"
    if c.startswith("ipm.activity"):
        return "journal"
    if c.startswith("ipm.appointment"):
        return "appointment"
    return "other"


# Properties the tool's item mapping keeps as contact fields: any of them
# with data makes the item carry contact properties.
CONTACT_IDS = {
    0x3A00, 0x3A02, 0x3A05, 0x3A06, 0x3A07, 0x3A08, 0x3A09, 0x3A0C, 0x3A10, 0x3A11, 0x3A15, 0x3A16, 0x3A17,
    0x3A18, 0x3A19, 0x3A1B, 0x3A1C, 0x3A1D, 0x3A1E, 0x3A1F, 0x3A21, 0x3A24, 0x3A25, 0x3A26, 0x3A27, 0x3A28,
    0x3A29, 0x3A2A, 0x3A2C, 0x3A2D, 0x3A2E, 0x3A2F, 0x3A30, 0x3A41, 0x3A42, 0x3A43, 0x3A44, 0x3A45, 0x3A46,
    0x3A48, 0x3A4A, 0x3A4B, 0x3A4E, 0x3A4F, 0x3A50, 0x3A51, 0x3A57, 0x3A59, 0x3A5A, 0x3A5B, 0x3A5C, 0x3A5D,
    0x3A5F, 0x3A60, 0x3A61, 0x3A62, 0x3A63,
}
CONTACT_LIDS = {0x8005, 0x801B, 0x801C, 0x80D8, 0x8534}
EMAIL_LIDS = {0x8048, 0x8084}


NID_TYPE_MASK = 0x1F
NID_TYPE_ASSOCIATED_MESSAGE = 0x08


def item_facts(item, lids):
    facts = {"class": text(item.record_sets, 0x001A) or "", "logType": False, "contactProps": False,
             "associated": (item.identifier & NID_TYPE_MASK) == NID_TYPE_ASSOCIATED_MESSAGE}
    for rs in item.record_sets:
        for e in rs.entries:
            pid = e.entry_type
            if e.data and pid in LOG_TYPE_IDS:
                facts["logType"] = True
            if e.data is None:
                continue
            if pid >= 0x8000:
                number = lids.get(pid)
                if number is None or number < 0x8000:
                    continue
                if number in CONTACT_LIDS or (number in EMAIL_LIDS and "@" in (text_of(e) or "")):
                    facts["contactProps"] = True
            elif pid in CONTACT_IDS or (pid == 0x3A4D and len(e.data) >= 2) or \
                    (pid == 0x3003 and "@" in (text_of(e) or "")):
                facts["contactProps"] = True
    return facts


def item_category(facts):
    """Where the tool sorts an item: the first rule that matches."""
    cls = facts["class"]
    kind = message_kind(cls)
    if cls == "IPM.Task":
        return "Tasks"
    if cls == "IPM.StickyNote":
        return "Notes"
    if kind == "journal":
        return "Journal" if facts["logType"] else None
    if kind == "appointment":
        return "Calendar"
    if kind == "contact":
        return "Contacts Items"
    if facts["contactProps"] and cls != "IPM.Note" and kind != "mail":
        return "Contacts Items"
    return "mail"


def collect(root, lids):
    folders = []

    def visit(folder, path):
        classes = []
        for i in range(folder.number_of_sub_items):
            item = folder.get_sub_item(i)
            if isinstance(item, pypff.folder):
                continue
            classes.append(item_facts(item, lids))
        folders.append({
            "path": path,
            "nid": folder.identifier,
            "containerClass": text(folder.record_sets, 0x3613),
            "itemClasses": classes,
        })
        for sub in folder.sub_folders:
            visit(sub, path + (sub.name or "") + "\\")

    visit(root, "Personal Folders\\")
    return folders


def derive_analysis(folders):
    records = []  # [path, nid, count]
    by_nid = {}
    counts = {label: 0 for label in SUMMARY_LABELS}
    for index, folder in enumerate(folders):
        cls = folder["containerClass"]
        if index == 0 or not cls or cls.startswith("IPF.Note"):
            by_nid.setdefault(folder["nid"], len(records))
            records.append([folder["path"], folder["nid"], 0])
        for facts in folder["itemClasses"]:
            if facts["associated"]:
                continue
            category = item_category(facts)
            if category != "mail":
                if category is not None:
                    counts[category] += 1
                continue
            record = records[by_nid.get(folder["nid"], len(records) - 1)]
            record[2] += 1
            for prefix, label in PREFIXES:
                if record[0].startswith(prefix):
                    counts[label] += 1
                    break
    return ([{"path": p, "nid": n, "messageCount": c} for p, n, c in records], counts)


def main():
    if any(a.startswith("-") for a in sys.argv[1:]) or len(sys.argv) > 3:
        print(__doc__.strip(), file=sys.stderr)
        sys.exit(2)
    stores_dir = sys.argv[1] if len(sys.argv) > 1 else "../shared/stores"
    out_dir = sys.argv[2] if len(sys.argv) > 2 else "tests/cli/data"
    os.makedirs(out_dir, exist_ok=True)
    for name in STORES:
        path = os.path.join(stores_dir, name)
        if not os.path.exists(path):
            continue
        f = open_store(path)
        root_nid = ipm_subtree_nid(f)
        root = find_folder(f.get_root_folder(), root_nid)
        folders = collect(root, numeric_named_ids(f)) if root is not None else []
        mail_folders, counts = derive_analysis(folders)
        result = {
            "store": name,
            "ipmSubtreeNid": root_nid,
            "folders": [{"path": x["path"], "nid": x["nid"], "containerClass": x["containerClass"],
                         "items": len(x["itemClasses"]),
                         "associatedItems": sum(1 for facts in x["itemClasses"] if facts["associated"]),
                         "itemClasses": [facts["class"] for facts in x["itemClasses"]]} for x in folders],
            "mailFolders": mail_folders,
            "counts": counts,
        }
        with open(os.path.join(out_dir, name.replace(".", "_") + ".json"), "w") as out:
            json.dump(result, out, indent=1, sort_keys=True)
            out.write("\n")
        f.close()


if __name__ == "__main__":
    if any(a in ("-h", "--help") for a in sys.argv[1:]):
        print(__doc__.strip())
        sys.exit(0)
    main()
