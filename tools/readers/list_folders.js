// Lists every folder of a .pst with pst-extractor, one line per folder:
// the folder path below the root ("/"-separated) and its item count.
//   node list_folders.js NODE_MODULES_DIR FILE.pst
'use strict';
const path = require('path');
const { PSTFile } = require(path.join(process.argv[2], 'pst-extractor'));

const file = new PSTFile(process.argv[3]);
const lines = [];
function walk(folder, where) {
    let items = 0;
    if (folder.contentCount > 0) {
        for (let m = folder.getNextChild(); m !== null; m = folder.getNextChild()) ++items;
    }
    lines.push(where + '\t' + items);
    if (folder.hasSubfolders) {
        for (const child of folder.getSubFolders()) walk(child, where + '/' + child.displayName);
    }
}
walk(file.getRootFolder(), '');
lines.sort();
process.stdout.write(lines.join('\n') + '\n');
