// The page's requests to the server: each with a time limit, an answer's
// failure told in the user's words.

// What an answer brings: its JSON, or null when the server says the
// overview has not changed since the page last had it (304).
export async function respuesta(r) {
  if (r.status === 304)
    return null;
  let datos = null;
  try {
    datos = await r.json();
  } catch (e) {
    if (e.name === 'TimeoutError' || e.name === 'AbortError')
      throw e;
  }
  if (!r.ok || datos == null || typeof datos !== 'object')
    throw new Error((datos && datos.error) || `respuesta ${r.status} del servidor`);
  return datos;
}

// Every request has a time limit: a stuck server shows as one, not as a
// page that waits for ever.
export async function pide(url, limite, etiqueta = '') {
  try {
    const r = await fetch(url, {credentials: 'same-origin', cache: 'no-store', signal: AbortSignal.timeout(limite),
                                headers: etiqueta ? {'If-None-Match': etiqueta} : {}});
    if (r.status === 401) {
      location.href = '/entrar';
      throw new Error('Hace falta entrar de nuevo.');
    }
    return {datos: await respuesta(r), etiqueta: r.headers.get('ETag') || etiqueta};
  } catch (e) {
    if (e.name === 'TimeoutError' || e.name === 'AbortError')
      throw new Error(`el servidor no contestó en ${limite / 1000} s`);
    if (e instanceof TypeError)
      throw new Error('no se puede conectar con el servidor');
    throw e;
  }
}
