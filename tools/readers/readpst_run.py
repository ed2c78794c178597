"""Runs readpst over a store into a temporary folder and hands back the one
top folder it wrote; the comparison and listing scripts read their views of
a store from there."""
import contextlib
import os
import shutil
import subprocess
import tempfile


@contextlib.contextmanager
def readpst_top(path, layout, prefix, check=True):
    """Writes `path` out with readpst; `layout` is "-S" (one file an item,
    attachments apart) or "-M" (one file an item, attachments inside). Yields
    the top folder readpst wrote, or None when it wrote no single one; the
    temporary folder is removed afterwards. With `check`, a failing readpst
    raises."""
    out_dir = tempfile.mkdtemp(prefix=prefix)
    try:
        # One job: with parallel jobs readpst may end before every file is written.
        subprocess.run(["readpst", "-j", "0", layout, "-D", "-b", "-q", "-o", out_dir, path], check=check,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        tops = [d for d in os.listdir(out_dir) if os.path.isdir(os.path.join(out_dir, d))]
        yield os.path.join(out_dir, tops[0]) if len(tops) == 1 else None
    finally:
        shutil.rmtree(out_dir, ignore_errors=True)
