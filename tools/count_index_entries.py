#!/usr/bin/env python3
"""Counts the leaf entries of a store's node and block B-trees.

An independent check for the store reader's integration tests: this walk
trusts the page metadata (entry count and level in each page's footer),
which the reader deliberately does not, and reads every leaf entry the
pages say they hold. It prints, per store, the number of NBT and BBT leaf
entries, the number of distinct NIDs and BIDs, and the tree depths.

    tools/count_index_entries.py [--pages] STORE...

--pages also lists every leaf page as offset:entry count.

Layouts: wVer 14/15 (ANSI), 23 (Unicode), 36 (Unicode with 4 KiB pages).
"""
import struct
import sys

LAYOUTS = {
    # name, id width, root ib offsets (NBT, BBT), page size,
    # footer (cEnt, cbEnt, cLevel) offsets, cEnt width, NBT/BBT leaf sizes
    "ansi": dict(w=4, nbt=188, bbt=196, page=512, cent=496, cbent=498, clevel=499, centw=1),
    "unicode": dict(w=8, nbt=224, bbt=240, page=512, cent=488, cbent=490, clevel=491, centw=1),
    "4k": dict(w=8, nbt=224, bbt=240, page=4096, cent=4056, cbent=4060, clevel=4061, centw=2),
}


def layout_of(version):
    if version in (14, 15):
        return LAYOUTS["ansi"]
    if version == 23:
        return LAYOUTS["unicode"]
    if version == 36:
        return LAYOUTS["4k"]
    return None


def uint(data, at, width):
    return int.from_bytes(data[at:at + width], "little")


def walk(f, lay, offset, keys, depth, stats):
    stats.setdefault("pages", [])
    f.seek(offset)
    page = f.read(lay["page"])
    if len(page) < lay["page"]:
        stats["short"] += 1
        return
    cent = uint(page, lay["cent"], lay["centw"])
    cbent = page[lay["cbent"]]
    level = page[lay["clevel"]]
    stats["depth"] = max(stats["depth"], depth + 1)
    w = lay["w"]
    for i in range(cent):
        at = i * cbent
        if at + cbent > lay["cent"]:
            break
        if level > 0:
            # inner entry: key, BID, ib
            walk(f, lay, uint(page, at + 2 * w, w), keys, depth + 1, stats)
        else:
            key = uint(page, at, 4 if stats["tree"] == "nbt" else w)
            keys.append(key)
    if level == 0:
        stats["pages"].append((offset, cent))


def count(path):
    with open(path, "rb") as f:
        header = f.read(564)
        version = struct.unpack_from("<H", header, 10)[0]
        lay = layout_of(version)
        if lay is None:
            return dict(version=version)
        out = dict(version=version)
        for tree in ("nbt", "bbt"):
            stats = dict(tree=tree, depth=0, short=0)
            keys = []
            walk(f, lay, uint(header, lay[tree], lay["w"]), keys, 0, stats)
            out[tree] = len(keys)
            out[tree + "_distinct"] = len(set(keys))
            out[tree + "_depth"] = stats["depth"]
            if "--pages" in sys.argv:
                out[tree + "_leaf_pages"] = ",".join(f"{o:#x}:{c}" for o, c in stats.get("pages", []))
        return out


def main(argv):
    if not [a for a in argv[1:] if not a.startswith("--")]:
        print(__doc__.strip(), file=sys.stderr)
        sys.exit(2)
    for path in (a for a in argv[1:] if not a.startswith("--")):
        r = count(path)
        print(path, " ".join(f"{k}={v}" for k, v in r.items()))


if __name__ == "__main__":
    if any(a in ("-h", "--help") for a in sys.argv[1:]):
        print(__doc__.strip())
        sys.exit(0)
    main(sys.argv)
