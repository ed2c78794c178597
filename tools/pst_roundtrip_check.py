#!/usr/bin/python3
"""Checks that independent readers see in a .pst what a manifest says was written.

    pst_roundtrip_check.py STORE MANIFEST [--readers pypff,pffexport,readpst]

The manifest (written by the store round-trip test) lists folders by path
("Top of Personal Folders/Inbox") with their message and subfolder counts,
and messages with folder, subject, sender, plain body, the files holding the
expected HTML and RTF bodies and attachment contents, and embedded messages.
Each reader prints "<reader>: ok" or its differences; the exit code is the
number of readers that found differences.
"""
import concurrent.futures
import datetime
import email
import email.header
import email.policy
import os
import re
import subprocess
import sys
import tempfile
from collections import defaultdict

MAX_REPORTED = 20


class Report:
    def __init__(self, reader):
        self.reader = reader
        self.problems = []

    def add(self, text):
        self.problems.append(text)

    def finish(self, notes=()):
        """(number of failed readers, text to print)."""
        lines = list(notes)
        if not self.problems:
            return 0, '\n'.join(lines + ['%s: ok' % self.reader])
        lines.append('%s: %d differences' % (self.reader, len(self.problems)))
        lines += ['  ' + p for p in self.problems[:MAX_REPORTED]]
        return 1, '\n'.join(lines)


def expected_bytes(base, name):
    with open(os.path.join(base, name), 'rb') as f:
        return f.read()


def text_of(data):
    if data is None:
        return None
    if isinstance(data, bytes):
        data = data.decode('utf-8', 'replace')
    return data.rstrip('\x00')


def check_folders(report, manifest, counts, subfolders):
    for path, exp in manifest['folders'].items():
        if path not in counts:
            report.add('folder missing: %s' % path)
            continue
        if counts[path] != exp['messages']:
            report.add('folder %s: %d items, expected %d' % (path, counts[path], exp['messages']))
        if 'subfolders' in exp and subfolders.get(path) != exp['subfolders']:
            report.add('folder %s: %s subfolders, expected %d' % (path, subfolders.get(path), exp['subfolders']))


# ---- pypff ----

def entries_of(item):
    out = {}
    for rs in item.record_sets:
        for e in rs.entries:
            out[e.entry_type] = e
    return out


def rtf_of(message):
    """The RTF text. libfmapi also checks the CRC of the uncompressed ("MELA")
    form, which the format sets to 0; that form is read from the stored
    property instead."""
    try:
        return message.rtf_body or b''
    except OSError:
        stored = entries_of(message).get(0x1009)
        data = stored.data if stored is not None else b''
        if data[8:12] != b'MELA':
            raise
        return data[16:16 + int.from_bytes(data[4:8], 'little')]


def prop_text(item, prop_id):
    """A PT_UNICODE property decoded here: the pypff of 2018 mis-decodes
    surrogate pairs (emoji), so its own strings are not compared."""
    e = entries_of(item).get(prop_id)
    if e is None or e.data is None:
        return None if e is None else ''
    return e.data.decode('utf-16-le', 'replace').rstrip('\x00')


def check_pypff(store, manifest, base):
    import pypff
    report = Report('pypff')
    f = pypff.file()
    f.open(store)
    folders = {}

    def walk(folder, path):
        for sub in folder.sub_folders:
            p = sub.name if not path else path + '/' + sub.name
            folders[p] = sub
            walk(sub, p)
    walk(f.get_root_folder(), '')
    counts = {p: fo.number_of_sub_messages for p, fo in folders.items()}
    subfolders = {p: fo.number_of_sub_folders for p, fo in folders.items()}
    check_folders(report, manifest, counts, subfolders)
    by_subject = defaultdict(list)
    for path, folder in folders.items():
        if path.split('/')[0] != 'Top of Personal Folders':
            continue
        for m in folder.sub_messages:
            by_subject[(path, prop_text(m, 0x0037))].append(m)
    for exp in manifest['messages']:
        found = by_subject.get((exp['folder'], exp['subject']))
        if not found:
            report.add('message missing: %s / %s' % (exp['folder'], exp['subject']))
            continue
        m = found.pop(0)
        where = exp['subject'][:40]
        if 'sender' in exp and prop_text(m, 0x0C1A) != exp['sender']:
            report.add('%s: sender %r' % (where, prop_text(m, 0x0C1A)))
        if 'body' in exp and prop_text(m, 0x1000) != exp['body']:
            report.add('%s: body %r' % (where, (prop_text(m, 0x1000) or '')[:60]))
        if 'body' in exp and exp['body'].isascii() and text_of(m.plain_text_body) != exp['body']:
            report.add('%s: plain text body %r' % (where, text_of(m.plain_text_body)[:60]))
        if 'html_file' in exp and (m.html_body or b'').rstrip(b'\x00') != expected_bytes(base, exp['html_file']):
            report.add('%s: HTML body differs (%d bytes)' % (where, len(m.html_body or b'')))
        if 'rtf_file' in exp and rtf_of(m).rstrip(b'\x00') != expected_bytes(base, exp['rtf_file']):
            report.add('%s: RTF body differs (%d bytes)' % (where, len(rtf_of(m))))
        if m.number_of_attachments != len(exp['attachments']):
            report.add('%s: %d attachments, expected %d' % (where, m.number_of_attachments, len(exp['attachments'])))
            continue
        for i, att in enumerate(exp['attachments']):
            a = m.get_attachment(i)
            entries = entries_of(a)
            name_entry = entries.get(0x3707) or entries.get(0x3001)
            name = name_entry.data_as_string if name_entry else None
            if name != att['name']:
                report.add('%s: attachment %d named %r' % (where, i, name))
            if 'file' in att:
                data = a.read_buffer(a.size) if a.size else b''
                if data != expected_bytes(base, att['file']):
                    report.add('%s: attachment %s bytes differ (%d read)' % (where, att['name'], len(data)))
            if 'embedded_subject' in att:
                method = entries.get(0x3705)
                if method is None or method.data_as_integer != 5 or 0x3701 not in entries:
                    report.add('%s: attachment %d is not an embedded message' % (where, i))
    return report.finish()


# ---- pffexport ----

ITEM_DIR = re.compile(r'^(Message|Contact|Appointment|Task|Meeting|Note|Activity|Item|Document|DistributionList)\d{5}$')
ITEM_FILES = ('OutlookHeaders.txt', 'Contact.txt', 'Appointment.txt', 'Task.txt', 'Message.txt')


def header_value(item, label):
    for name in ITEM_FILES:
        path = os.path.join(item, name)
        if not os.path.exists(path):
            continue
        with open(path, encoding='utf-8', errors='replace') as f:
            for line in f:
                if line.startswith(label + ':'):
                    return line.split(':', 1)[1].strip()
    return None


def check_pffexport(store, manifest, base):
    """Items are matched to the manifest by their order in each folder:
    pffexport's subject text drops a first character whose low byte looks
    like a control code (as in Cyrillic) and mis-decodes emoji, so subjects
    are compared only where they are ASCII."""
    report = Report('pffexport')
    with tempfile.TemporaryDirectory() as tmp:
        target = os.path.join(tmp, 'out')
        subprocess.run(['pffexport', '-q', '-f', 'all', '-t', target, store],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)
        root = target + '.export'
        counts, subfolders, items = {}, {}, defaultdict(list)
        for dirpath, dirnames, _ in os.walk(root):
            rel = os.path.relpath(dirpath, root)
            if rel == '.' or any(ITEM_DIR.match(part) or part == 'Attachments' for part in rel.split(os.sep)):
                continue
            names = sorted(d for d in dirnames if ITEM_DIR.match(d))
            counts[rel] = len(names)
            subfolders[rel] = len(dirnames) - len(names)
            items[rel] = [os.path.join(dirpath, n) for n in names]
        check_folders(report, manifest, counts, subfolders)
        for exp in manifest['messages']:
            if not items.get(exp['folder']):
                report.add('message missing: %s / %s' % (exp['folder'], exp['subject']))
                continue
            item = items[exp['folder']].pop(0)
            where = exp['subject'][:40]
            subject = header_value(item, 'Subject')
            if exp['subject'].isascii() and subject != exp['subject']:
                report.add('%s: exported subject %r' % (where, subject))
            if 'html_file' in exp:
                path = os.path.join(item, 'Message.html')
                data = open(path, 'rb').read().rstrip(b'\x00') if os.path.exists(path) else b''
                if data != expected_bytes(base, exp['html_file']):
                    report.add('%s: Message.html differs (%d bytes)' % (where, len(data)))
            adir = os.path.join(item, 'Attachments')
            width = len(str(len(exp['attachments'])))
            for i, att in enumerate(exp['attachments']):
                if 'file' in att:
                    path = os.path.join(adir, '%0*d_%s' % (width, i + 1, att['name']))
                    if not os.path.exists(path):
                        report.add('%s: attachment %s not exported' % (where, att['name']))
                    elif open(path, 'rb').read() != expected_bytes(base, att['file']):
                        report.add('%s: attachment %s bytes differ' % (where, att['name']))
                if 'embedded_subject' in att:
                    inner = os.path.join(adir, 'Attachment%05d' % (i + 1), 'Message00001')
                    if header_value(inner, 'Subject') != att['embedded_subject']:
                        report.add('%s: embedded message not exported' % where)
            named = exp.get('named', {})
            if 'email1' in named and header_value(item, 'Email address 1') != named['email1']:
                report.add('%s: contact e-mail %r' % (where, header_value(item, 'Email address 1')))
            if 'location' in named and header_value(item, 'Location') != named['location']:
                report.add('%s: location %r' % (where, header_value(item, 'Location')))
    return report.finish()


# ---- readpst ----

def card_field(raw, name):
    for line in raw.decode('utf-8', 'replace').splitlines():
        key = line.split(':', 1)[0].split(';', 1)[0]
        if key == name and ':' in line:
            return line.split(':', 1)[1]
    return None


def readpst_item(raw):
    """(subject, parsed mail or None) of a file readpst saved."""
    if raw.startswith(b'BEGIN:VCARD'):
        return card_field(raw, 'FN'), None
    if raw.startswith(b'BEGIN:VCALENDAR'):
        return card_field(raw, 'SUMMARY'), None
    msg = email.message_from_bytes(raw, policy=email.policy.default)
    return str(msg.get('Subject', '')), msg


def check_readpst(store, manifest, base, display_name):
    """readpst names the IPM subtree after the store and saves no tasks. It
    runs without parallel jobs (-j 0): with any, its numbering of saved files
    races and messages overwrite each other. It takes the uncompressed ("MELA") form of
    RTF for compressed data, so those bodies are not compared."""
    report = Report('readpst')
    with tempfile.TemporaryDirectory() as tmp:
        subprocess.run(['readpst', '-j', '0', '-q', '-S', '-D', '-o', tmp, store],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)
        counts, items = {}, defaultdict(list)
        for dirpath, _, filenames in os.walk(tmp):
            parts = os.path.relpath(dirpath, tmp).split(os.sep)
            if parts[0] == display_name:
                parts[0] = 'Top of Personal Folders'
            path = '/'.join(parts)
            numbered = [n for n in filenames if re.match(r'^\d+$', n)]
            counts[path] = len(numbered)
            for n in numbered:
                with open(os.path.join(dirpath, n), 'rb') as f:
                    raw = f.read()
                subject, msg = readpst_item(raw)
                items[(path, subject)].append((dirpath, n, msg, raw))
        tasks = 0
        for exp in manifest['messages']:
            if exp.get('class') == 'IPM.Task':
                tasks += 1
                continue
            found = items.get((exp['folder'], exp['subject']))
            if not found:
                report.add('message missing: %s / %s' % (exp['folder'], exp['subject']))
                continue
            dirpath, n, msg, raw = found.pop(0)
            where = exp['subject'][:40]
            for att in exp['attachments']:
                if 'file' in att:
                    path = os.path.join(dirpath, '%s-%s' % (n, att['name']))
                    if not os.path.exists(path):
                        report.add('%s: attachment %s not saved' % (where, att['name']))
                    elif open(path, 'rb').read() != expected_bytes(base, att['file']):
                        report.add('%s: attachment %s bytes differ' % (where, att['name']))
                if 'embedded_subject' in att and att['embedded_subject'].encode() not in raw:
                    report.add('%s: embedded message not in the saved mail' % where)
            if 'rtf_file' in exp and not exp.get('rtf_uncompressed'):
                path = os.path.join(dirpath, '%s-rtf-body.rtf' % n)
                data = open(path, 'rb').read().rstrip(b'\x00') if os.path.exists(path) else b''
                if data != expected_bytes(base, exp['rtf_file']):
                    report.add('%s: RTF body differs (%d bytes)' % (where, len(data)))
            named = exp.get('named', {})
            if 'email1' in named and card_field(raw, 'EMAIL') != named['email1']:
                report.add('%s: contact e-mail %r' % (where, card_field(raw, 'EMAIL')))
            if 'location' in named and card_field(raw, 'LOCATION') != named['location']:
                report.add('%s: location %r' % (where, card_field(raw, 'LOCATION')))
            if 'start_unix' in named:
                start = datetime.datetime.fromtimestamp(named['start_unix'], datetime.timezone.utc)
                if card_field(raw, 'DTSTART') != start.strftime('%Y%m%dT%H%M%SZ'):
                    report.add('%s: start %r' % (where, card_field(raw, 'DTSTART')))
            if msg is not None and 'body' in exp:
                body = msg.get_body(preferencelist=('plain',))
                text = body.get_content() if body is not None else ''
                if exp['body'].replace('\r\n', '\n').strip() not in text.replace('\r\n', '\n'):
                    report.add('%s: plain body not found' % where)
        for path, exp in manifest['folders'].items():
            expected = sum(1 for m in manifest['messages'] if m['folder'] == path and m.get('class') != 'IPM.Task')
            if expected and counts.get(path) != expected:
                report.add('folder %s: %s items, expected %d' % (path, counts.get(path), expected))
    notes = ['readpst: %d tasks not compared (readpst saves no tasks)' % tasks] if tasks else []
    return report.finish(notes)


def main():
    import json
    args = [a for a in sys.argv[1:] if not a.startswith('--')]
    readers = 'pypff,pffexport,readpst'
    for a in sys.argv[1:]:
        if a.startswith('--readers='):
            readers = a.split('=', 1)[1]
    store, manifest_path = args
    with open(manifest_path, encoding='utf-8') as f:
        manifest = json.load(f)
    base = os.path.dirname(os.path.abspath(manifest_path))
    checks = []
    if 'pypff' in readers:
        checks.append(lambda: check_pypff(store, manifest, base))
    if 'pffexport' in readers:
        checks.append(lambda: check_pffexport(store, manifest, base))
    if 'readpst' in readers:
        checks.append(lambda: check_readpst(store, manifest, base, manifest.get('display_name', '')))
    # The readers are separate programs: run them side by side.
    with concurrent.futures.ThreadPoolExecutor(max_workers=len(checks) or 1) as pool:
        results = [f.result() for f in [pool.submit(c) for c in checks]]
    for _, text in results:
        print(text)
    sys.exit(sum(failed for failed, _ in results))


if __name__ == '__main__':
    if any(a in ("-h", "--help") for a in sys.argv[1:]):
        print(__doc__.strip())
        sys.exit(0)
    main()
