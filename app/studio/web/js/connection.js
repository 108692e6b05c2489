// The page's end of the studio's WebSocket: JSON requests out, and back JSON replies and
// pictures (a 32-byte header of little-endian 32-bit fields, then RGBA rows).

export const PictureKind = { patch: 1, whole: 2, frame: 3, cursor: 4 };

/** Reads a binary message from the server. */
export function decodePicture(buffer) {
  const view = new DataView(buffer);
  const width = view.getUint32(20, true);
  const height = view.getUint32(24, true);
  return {
    kind: view.getUint32(0, true),
    a: view.getUint32(4, true),
    b: view.getUint32(8, true),
    left: view.getInt32(12, true),
    top: view.getInt32(16, true),
    width,
    height,
    milliseconds: view.getFloat32(28, true),
    pixels: width && height ? new ImageData(new Uint8ClampedArray(buffer, 32, width * height * 4), width, height) : null,
  };
}

/** One tab's connection; `onText` and `onPicture` hear what comes back. */
export class Connection {
  constructor(url, { onText, onPicture, onClose }) {
    this.socket = new WebSocket(url);
    this.socket.binaryType = 'arraybuffer';
    this.opened = new Promise((resolve, reject) => {
      this.socket.addEventListener('open', resolve, { once: true });
      this.socket.addEventListener('error', reject, { once: true });
    });
    this.socket.addEventListener('message', (event) => {
      if (typeof event.data === 'string') onText(JSON.parse(event.data));
      else onPicture(decodePicture(event.data));
    });
    this.socket.addEventListener('close', (event) => onClose(event));
  }

  send(message) {
    if (this.socket.readyState === WebSocket.OPEN) this.socket.send(JSON.stringify(message));
  }

  /** A clone image: "KSIM", the name's length, the name, the file's bytes. */
  async sendImage(file) {
    const name = new TextEncoder().encode(file.name.replace(/[^A-Za-z0-9._-]/g, '_').slice(0, 100));
    const bytes = new Uint8Array(await file.arrayBuffer());
    const message = new Uint8Array(5 + name.length + bytes.length);
    message.set([75, 83, 73, 77, name.length]);
    message.set(name, 5);
    message.set(bytes, 5 + name.length);
    this.socket.send(message);
  }
}
