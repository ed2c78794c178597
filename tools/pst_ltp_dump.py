#!/usr/bin/python3
"""Dumps the node database and the lists/tables layer of a Unicode .pst/.ost.

A developer's aid for comparing what Brightmend writes with stores written by
other programs:

    tools/pst_ltp_dump.py STORE                 # node list
    tools/pst_ltp_dump.py STORE 0x21 0x60e      # nodes as property/table contexts

Only the Unicode layout (wVer 23) with no or permutative encoding is read.
"""
import struct
import sys

ENCODE = [65,54,19,98,168,33,110,187,244,22,204,4,127,100,232,93,30,242,203,42,116,197,94,53,210,149,71,158,150,45,154,136,76,125,132,63,219,172,49,182,72,95,246,196,216,57,139,231,35,59,56,142,200,193,223,37,177,32,165,70,96,78,156,251,170,211,86,81,69,124,85,0,7,201,43,157,133,155,9,160,143,173,179,15,99,171,137,75,215,167,21,90,113,102,66,191,38,74,107,152,250,234,119,83,178,112,5,44,253,89,58,134,126,206,6,235,130,120,87,199,141,67,175,180,28,212,91,205,226,233,39,79,195,8,114,128,207,176,239,245,40,109,190,48,77,52,146,213,14,60,34,50,229,228,249,159,194,209,10,129,18,225,238,145,131,118,227,151,230,97,138,23,121,164,183,220,144,122,92,140,2,166,202,105,222,80,26,17,147,185,82,135,88,252,237,29,55,73,27,106,224,41,51,153,189,108,217,148,243,64,84,111,240,198,115,184,214,62,101,24,68,31,221,103,16,241,12,25,236,174,3,161,20,123,169,11,255,248,163,192,162,1,247,46,188,36,104,117,13,254,186,47,181,208,218,61]
DECODE = [0] * 256
for plain, stored in enumerate(ENCODE):
    DECODE[stored] = plain


class Store:
    def __init__(self, path):
        self.data = open(path, 'rb').read()
        d = self.data
        if d[0:4] != b'!BDN':
            raise SystemExit('not a store')
        self.version = struct.unpack_from('<H', d, 10)[0]
        if self.version < 23:
            raise SystemExit('only the Unicode layout is read')
        self.crypt = d[513]
        self.blocks = {}
        self.nodes = {}
        self._walk_page(struct.unpack_from('<Q', d, 0xF0)[0], self._bbt_leaf)
        self._walk_page(struct.unpack_from('<Q', d, 0xE0)[0], self._nbt_leaf)

    def _walk_page(self, ib, leaf):
        d = self.data
        cent, _, cbent, level = d[ib + 488], d[ib + 489], d[ib + 490], d[ib + 491]
        for i in range(cent):
            off = ib + i * cbent
            if level == 0:
                leaf(off)
            else:
                self._walk_page(struct.unpack_from('<Q', d, off + 16)[0], leaf)

    def _bbt_leaf(self, off):
        bid, ib, cb, cref = struct.unpack_from('<QQHH', self.data, off)
        self.blocks[bid & ~1] = (ib, cb, cref)

    def _nbt_leaf(self, off):
        nid, bdata, bsub, parent = struct.unpack_from('<QQQI', self.data, off)
        self.nodes[nid & 0xFFFFFFFF] = (bdata, bsub, parent)

    def block(self, bid):
        ib, cb, _ = self.blocks[bid & ~1]
        raw = self.data[ib:ib + cb]
        if bid & 2 or self.crypt == 0:
            return raw
        return bytes(DECODE[b] for b in raw)

    def pieces(self, bid):
        """The data blocks of a data tree, in order."""
        if bid == 0:
            return []
        if not bid & 2:
            return [self.block(bid)]
        raw = self.block(bid)
        _, level, count, _ = struct.unpack_from('<BBHI', raw, 0)
        out = []
        for i in range(count):
            child = struct.unpack_from('<Q', raw, 8 + 8 * i)[0]
            out.extend(self.pieces(child) if level == 2 else [self.block(child)])
        return out

    def subnodes(self, bid):
        out = {}
        if bid == 0:
            return out
        raw = self.block(bid)
        _, level, count = struct.unpack_from('<BBH', raw, 0)
        for i in range(count):
            if level == 0:
                nid, bdata, bsub = struct.unpack_from('<QQQ', raw, 8 + 24 * i)
                out[nid & 0xFFFFFFFF] = (bdata, bsub)
            else:
                out.update(self.subnodes(struct.unpack_from('<Q', raw, 8 + 16 * i + 8)[0]))
        return out


class Heap:
    def __init__(self, pieces):
        self.pieces = pieces
        first = pieces[0]
        self.page_map, sig, self.client, self.user_root = struct.unpack_from('<HBBI', first, 0)
        if sig != 0xEC:
            raise ValueError('no heap signature')

    def alloc(self, hid):
        if hid == 0:
            return b''
        block, index = hid >> 16, (hid >> 5) & 0x7FF
        p = self.pieces[block]
        ibhnpm = struct.unpack_from('<H', p, 0)[0]
        calloc = struct.unpack_from('<H', p, ibhnpm)[0]
        if index < 1 or index > calloc:
            raise ValueError('bad hid %#x' % hid)
        start, end = struct.unpack_from('<HH', p, ibhnpm + 4 + 2 * (index - 1))
        return p[start:end]

    def bth(self, hid):
        raw = self.alloc(hid)
        btype, cbkey, cbent, levels, root = struct.unpack_from('<BBBBI', raw, 0)
        assert btype == 0xB5, hex(btype)
        rows = []

        def walk(h, level):
            if h == 0:
                return
            node = self.alloc(h)
            size = cbkey + (cbent if level == 0 else 4)
            for off in range(0, len(node), size):
                if level == 0:
                    rows.append((node[off:off + cbkey], node[off + cbkey:off + size]))
                else:
                    walk(struct.unpack_from('<I', node, off + cbkey)[0], level - 1)
        walk(root, levels)
        return cbkey, cbent, levels, rows


def is_hid(v):
    return (v & 0x1F) == 0


def dump_pc(store, heap, subs):
    _, _, levels, rows = heap.bth(heap.user_root)
    print('  property context, %d properties, index levels %d' % (len(rows), levels))
    for key, ent in rows:
        pid = struct.unpack('<H', key)[0]
        ptype, ref = struct.unpack('<HI', ent)
        if ptype in (2, 3, 4, 0xA, 0xB):
            text = '%#x' % ref
        elif is_hid(ref):
            text = 'heap %d bytes: %s' % (len(heap.alloc(ref)), heap.alloc(ref)[:48].hex())
        else:
            text = 'subnode %#x' % ref
        print('    %04X%04X %s' % (pid, ptype, text))


def dump_tc(store, heap, subs):
    raw = heap.alloc(heap.user_root)
    btype, ccols, ib4, ib2, ib1, ibbm, hidrowindex, hnidrows, _ = struct.unpack_from('<BBHHHHIII', raw, 0)
    print('  table context: %d columns, row ends 4/8b=%d 2b=%d 1b=%d size=%d, rows ref %#x'
          % (ccols, ib4, ib2, ib1, ibbm, hnidrows))
    for i in range(ccols):
        tag, ib, cb, bit = struct.unpack_from('<IHBB', raw, 22 + 8 * i)
        print('    col %08X at %3d size %d bit %d' % (tag, ib, cb, bit))
    cbkey, cbent, levels, rows = heap.bth(hidrowindex)
    print('  row index: key %d entry %d levels %d rows %d' % (cbkey, cbent, levels, len(rows)))
    if hnidrows == 0 or ibbm == 0:
        return
    if is_hid(hnidrows):
        blocks = [heap.alloc(hnidrows)]
    else:
        blocks = store.pieces(subs[hnidrows][0])
    per_block = 8176 // ibbm
    cols = [struct.unpack_from('<IHBB', raw, 22 + 8 * i) for i in range(ccols)]
    for key, ent in rows[:6]:
        index = int.from_bytes(ent, 'little')
        row = blocks[index // per_block][(index % per_block) * ibbm:][:ibbm]
        cells = []
        for tag, ib, cb, bit in cols:
            if not row[ib1 + bit // 8] & (0x80 >> (bit % 8)):
                continue
            value = int.from_bytes(row[ib:ib + cb], 'little')
            ptype = tag & 0xFFFF
            if ptype == 0x1F and is_hid(value):
                cells.append('%04X=%r' % (tag >> 16, heap.alloc(value).decode('utf-16-le')[:30]))
            else:
                cells.append('%04X=%#x' % (tag >> 16, value))
        print('    row %#x @%d: %s' % (int.from_bytes(key, 'little'), index, ' '.join(cells)))


def main():
    if len(sys.argv) < 2 or sys.argv[1].startswith('-'):
        print(__doc__.strip(), file=sys.stderr)
        sys.exit(2)
    store = Store(sys.argv[1])
    if len(sys.argv) == 2:
        for nid in sorted(store.nodes):
            bdata, bsub, parent = store.nodes[nid]
            size = sum(len(p) for p in store.pieces(bdata)) if bdata else 0
            subs = store.subnodes(bsub)
            print('%#07x parent %#07x data %6d bytes, %d subnodes %s' % (
                nid, parent, size, len(subs), ' '.join('%#x' % s for s in sorted(subs))[:80]))
        return
    for arg in sys.argv[2:]:
        path = [int(x, 16) for x in arg.split('/')]
        bdata, bsub, _ = store.nodes[path[0]]
        subs = store.subnodes(bsub)
        for sub in path[1:]:
            bdata, bsub = subs[sub]
            subs = store.subnodes(bsub)
        pieces = store.pieces(bdata)
        print('%s: %d blocks %s' % (arg, len(pieces), [len(p) for p in pieces]))
        try:
            heap = Heap(pieces)
        except (ValueError, struct.error):
            print('  raw: %s' % b''.join(pieces)[:96].hex())
            continue
        if heap.client == 0xBC:
            dump_pc(store, heap, subs)
        elif heap.client == 0x7C:
            dump_tc(store, heap, subs)
        else:
            print('  heap client %#x' % heap.client)


if __name__ == '__main__':
    if any(a in ("-h", "--help") for a in sys.argv[1:]):
        print(__doc__.strip())
        sys.exit(0)
    main()
