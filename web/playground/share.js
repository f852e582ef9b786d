// The script in the page's address: "#zndvm:" (or "#vm:") and the script's bytes, compressed
// (deflate) and written in URL-safe base64, so that a link opens the same script on the same
// machine. Nothing leaves the page: the address is only read and written.

function toBase64Url(bytes) {
  let binary = '';
  for (let i = 0; i < bytes.length; i += 0x8000) binary += String.fromCharCode(...bytes.subarray(i, i + 0x8000));
  return btoa(binary).replace(/\+/g, '-').replace(/\//g, '_').replace(/=+$/, '');
}

function fromBase64Url(text) {
  const binary = atob(text.replace(/-/g, '+').replace(/_/g, '/'));
  return Uint8Array.from(binary, (c) => c.charCodeAt(0));
}

async function through(bytes, stream) {
  const out = new Response(new Blob([bytes]).stream().pipeThrough(stream));
  return new Uint8Array(await out.arrayBuffer());
}

/** The address fragment (without "#") for a script. */
export async function encodeScript(kind, text) {
  const packed = await through(new TextEncoder().encode(text), new CompressionStream('deflate-raw'));
  return `${kind}:${toBase64Url(packed)}`;
}

/** The script of an address fragment, or null when it holds none. */
export async function decodeScript(fragment) {
  const m = /^(vm|zndvm):([A-Za-z0-9_-]*)$/.exec(fragment.replace(/^#/, ''));
  if (m === null) return null;
  try {
    const bytes = await through(fromBase64Url(m[2]), new DecompressionStream('deflate-raw'));
    return { kind: m[1], text: new TextDecoder().decode(bytes) };
  } catch {
    return null;
  }
}
