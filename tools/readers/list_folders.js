// Lists every folder of a .pst with pst-extractor, one line per folder:
// the folder path below the root ("/"-separated) and its item count.
//   node list_folders.js NODE_MODULES_DIR FILE.pst
'use strict';
const path = require('path');
// The package notes items of a class it has no type for on the console;
// those notes are dropped so that the output is the listing alone (a store
// it cannot read still ends the script with an exception and its trace).
console.log = () => {};
console.error = () => {};
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
