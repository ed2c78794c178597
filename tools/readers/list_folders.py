#!/usr/bin/env python3
"""Lists every folder of a .pst with pypff, one line per folder: the folder
path below the root ("/"-separated) and its item count, in the same form as
list_folders.js, so the two readers' views can be compared.

    list_folders.py FILE.pst        exit 77 when pypff is not installed
    list_folders.py --object-attachments FILE.pst
        prints how many attachments of the folders' messages hold their data
        as an object (PidTagAttachDataObject, PtypObject): embedded messages
        and OLE objects
    list_folders.py --associated FILE.pst
        prints, for every folder of the mail folder subtree that has
        associated items (items it holds beside its contents table: views,
        rules, settings), its path below the top folder ("\\"-separated) and
        how many
"""
import os
import sys

try:
    import pypff
except ImportError:
    print("pypff not installed")
    sys.exit(77)


def walk(folder, where, lines):
    lines.append("%s\t%d" % (where, folder.number_of_sub_messages))
    for i in range(folder.number_of_sub_folders):
        child = folder.get_sub_folder(i)
        walk(child, where + "/" + (child.name or ""), lines)


def count_object_attachments(folder):
    count = 0
    for i in range(folder.number_of_sub_messages):
        message = folder.get_sub_message(i)
        for attachment in message.attachments:
            for record_set in attachment.record_sets:
                for entry in record_set.entries:
                    if entry.entry_type == 0x3701 and entry.value_type == 0x000D:
                        count += 1
    for i in range(folder.number_of_sub_folders):
        count += count_object_attachments(folder.get_sub_folder(i))
    return count


def associated_counts(f):
    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
    import pff_store

    lines = []

    def walk(folder, where):
        items = sum(1 for i in range(folder.number_of_sub_items)
                    if not isinstance(folder.get_sub_item(i), type(folder)))
        if items > folder.number_of_sub_messages:
            lines.append("%s\t%d" % (where, items - folder.number_of_sub_messages))
        for sub in folder.sub_folders:
            walk(sub, where + (sub.name or "") + "\\")

    top = pff_store.mail_subtree(f)
    if top is not None:
        walk(top, "")
    return lines


def main():
    args = sys.argv[1:]
    if len(args) == 2 and args[0] == "--associated":
        f = pypff.file()
        f.open(args[1])
        lines = sorted(associated_counts(f))
        f.close()
        sys.stdout.write("".join(line + "\n" for line in lines))
        return
    if len(args) == 2 and args[0] == "--object-attachments":
        f = pypff.file()
        f.open(args[1])
        print(count_object_attachments(f.get_root_folder()))
        f.close()
        return
    if len(args) != 1 or args[0].startswith("-"):
        sys.stderr.write("usage: list_folders.py [--object-attachments | --associated] FILE.pst\n")
        sys.exit(2)
    f = pypff.file()
    f.open(args[0])
    lines = []
    walk(f.get_root_folder(), "", lines)
    f.close()
    lines.sort()
    sys.stdout.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
