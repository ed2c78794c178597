#!/usr/bin/python3
"""Writes the expected folder and item counts of the shared stores, read by
pypff (libpff), for the command line's end-to-end tests.

For every store it finds the mail folder subtree the way the tool does (the
node named by the message store's IPM-subtree entry ID, bytes 20-23, or
0x2142), and for every folder below it records the path in the tool's form
("Personal Folders\\Inbox\\"), the node id, the container class, and the
message class of every item that libpff hangs under the folder (normal and
associated contents alike).

From those it derives what `analyze` must report, by the tool's sorting
rules as far as the message class decides them (the tool also takes an item
of another class for a contact when it carries contact properties; the test
allows for exactly that move from mail to contacts):
  - a mail folder is one whose container class is missing or begins with
    "IPF.Note"; it gets a folder record, and so does the subtree root;
  - an item is, by the first rule that matches: a task (class exactly
    "IPM.Task"), a note (exactly "IPM.StickyNote"), a journal item
    ("IPM.Activity..."; counted only with an entry type), an appointment
    ("IPM.Appointment..."), a contact ("IPM.Contact..."), and otherwise a
    mail message, which counts in the record of its folder, or in the last
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

from pff_store import STORES, ipm_subtree_nid, find_folder, open_store, text

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


def item_facts(item):
    facts = {"class": text(item.record_sets, 0x001A) or "", "logType": False}
    for rs in item.record_sets:
        for e in rs.entries:
            if e.data and e.entry_type in LOG_TYPE_IDS:
                facts["logType"] = True
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
    return "mail"


def collect(root):
    folders = []

    def visit(folder, path):
        classes = []
        for i in range(folder.number_of_sub_items):
            item = folder.get_sub_item(i)
            if isinstance(item, pypff.folder):
                continue
            classes.append(item_facts(item))
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
        folders = collect(root) if root is not None else []
        mail_folders, counts = derive_analysis(folders)
        result = {
            "store": name,
            "ipmSubtreeNid": root_nid,
            "folders": [{"path": x["path"], "nid": x["nid"], "containerClass": x["containerClass"],
                         "items": len(x["itemClasses"]),
                         "itemClasses": [facts["class"] for facts in x["itemClasses"]]} for x in folders],
            "mailFolders": mail_folders,
            "counts": counts,
        }
        with open(os.path.join(out_dir, name.replace(".", "_") + ".json"), "w") as out:
            json.dump(result, out, indent=1, sort_keys=True)
            out.write("\n")
        f.close()


if __name__ == "__main__":
    main()
