// The intro's data as the site carries it (data.pack, made by web/pack_data.py): a 32-bit little-endian
// length, a JSON list of [path, size], then the files' bytes one after the other. An ES module; a classic
// script takes it with import('./data_pack.js').

// The files of a pack: [[path, bytes]] in its order. Throws on a pack that does not hold what its index says.
export function unpackData(buffer) {
    const view = new DataView(buffer);
    if (buffer.byteLength < 4 || 4 + view.getUint32(0, true) > buffer.byteLength) {
        throw new Error('the data pack is damaged');
    }
    const indexLength = view.getUint32(0, true);
    const index = JSON.parse(new TextDecoder().decode(new Uint8Array(buffer, 4, indexLength)));
    if (!Array.isArray(index)) {
        throw new Error('the data pack is damaged');
    }
    let offset = 4 + indexLength;
    const files = [];
    for (const [path, size] of index) {
        if (typeof path !== 'string' || !Number.isInteger(size) || size < 0 || offset + size > buffer.byteLength) {
            throw new Error('the data pack is damaged');
        }
        files.push([path, new Uint8Array(buffer, offset, size)]);
        offset += size;
    }
    return files;
}

// Downloads the site's data pack and unpacks it; throws with what went wrong ("HTTP 404", "the data pack is
// damaged", the network's own words).
export async function loadDataPack(url = 'data.pack') {
    const response = await fetch(url);
    if (!response.ok) {
        throw new Error('HTTP ' + response.status);
    }
    return unpackData(await response.arrayBuffer());
}

// Writes the files into the program's file system (Module.FS), making their folders.
export function writeDataFiles(fs, files) {
    for (const [path, bytes] of files) {
        const folder = path.substring(0, path.lastIndexOf('/'));
        if (folder !== '') {
            fs.mkdirTree(folder);
        }
        fs.writeFile(path, bytes);
    }
}
