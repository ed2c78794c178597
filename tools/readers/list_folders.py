#!/usr/bin/env python3
"""Lists every folder of a .pst with pypff, one line per folder: the folder
path below the root ("/"-separated) and its item count, in the same form as
list_folders.js, so the two readers' views can be compared.

    list_folders.py FILE.pst        exit 77 when pypff is not installed
"""
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


def main():
    f = pypff.file()
    f.open(sys.argv[1])
    lines = []
    walk(f.get_root_folder(), "", lines)
    f.close()
    lines.sort()
    sys.stdout.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
