#!/usr/bin/python3
"""Lists the folders of the mail folder subtree of a .pst/.ost as readpst or
pffexport writes them out, one line per folder: the folder path below the
top folder ("/"-separated, "" for the top folder itself) and how many items
the reader wrote for it, sorted, so that two stores can be compared through
the same reader.

    list_reader_folders.py readpst FILE      items readpst writes (-S -D)
    list_reader_folders.py pffexport FILE    item folders pffexport writes

Each reader leaves out what it has no form for (readpst: tasks, sticky
notes, distribution lists; both: associated items), on every store alike,
so a saved store is compared with its source through the same reader.
pffexport's folders are found below the folder that pypff takes for the mail
folder subtree (pypff is needed for that).

Exit 77 when the reader is not installed, 1 when it wrote no top folder.
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile

from readpst_run import readpst_top

ITEM_DIR = re.compile(r"^(Message|Contact|Appointment|Task|Meeting|Note|Activity|Item|Document|DistributionList)"
                      r"\d{5}$")


def listing(top, count):
    lines = []
    for dirpath, dirnames, filenames in os.walk(top):
        rel = os.path.relpath(dirpath, top)
        parts = [] if rel == "." else rel.split(os.sep)
        if any(ITEM_DIR.match(p) or p == "Attachments" for p in parts):
            continue
        lines.append("%s\t%d" % ("/".join(parts), count(dirnames, filenames)))
    return lines


def readpst(path, _out_dir):
    with readpst_top(path, "-S", "list-readpst-", check=False) as top:
        if top is None:
            return None
        return listing(top, lambda dirs, files: sum(1 for f in files if f.isdigit()))


def pffexport(path, out_dir):
    target = os.path.join(out_dir, "out")
    subprocess.run(["pffexport", "-q", "-m", "items", "-f", "text", "-t", target, path],
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)
    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
    import pff_store

    # pffexport names folders by their display names from the root down.
    f = pff_store.open_store(path)
    names = pff_store.mail_subtree_names(f)
    f.close()
    if names is None or not os.path.isdir(os.path.join(target + ".export", *names)):
        return None
    where = os.path.join(target + ".export", *names)
    return listing(where, lambda dirs, files: sum(1 for d in dirs if ITEM_DIR.match(d)))


def main(argv):
    readers = {"readpst": readpst, "pffexport": pffexport}
    if len(argv) != 3 or argv[1] not in readers:
        sys.stderr.write("usage: list_reader_folders.py readpst|pffexport FILE\n")
        return 2
    reader, path = argv[1], argv[2]
    if reader == "pffexport":
        try:
            import pypff as _  # noqa: F401
        except ImportError:
            print("pypff not installed")
            return 77
    if shutil.which(reader) is None:
        print("%s not installed" % reader)
        return 77
    out_dir = tempfile.mkdtemp(prefix="list-%s-" % reader)
    try:
        lines = readers[reader](path, out_dir)
    finally:
        shutil.rmtree(out_dir, ignore_errors=True)
    if lines is None:
        print("%s wrote no top folder for %s" % (reader, path))
        return 1
    lines.sort()
    sys.stdout.write("\n".join(lines) + "\n")
    return 0


if __name__ == "__main__":
    if any(a in ("-h", "--help") for a in sys.argv[1:]):
        print(__doc__.strip())
        sys.exit(0)
    sys.exit(main(sys.argv))
