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

// A request that failed on its way, in the user's words.
function enPalabras(e, limite) {
  if (e.name === 'TimeoutError' || e.name === 'AbortError')
    return new Error(`el servidor no contestó en ${limite / 1000} s`);
  if (e instanceof TypeError)
    return new Error('no se puede conectar con el servidor');
  return e;
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
    throw enPalabras(e, limite);
  }
}

// A change the page asks for (acknowledge, silence): its JSON body and the
// session's write token, which only this page can read from the server.
export async function envia(url, ficha, cuerpo, limite) {
  try {
    const plazo = AbortSignal.timeout(limite);
    const r = await fetch(url, {method: 'POST', credentials: 'same-origin', cache: 'no-store', signal: plazo,
                                headers: {'Content-Type': 'application/json', 'X-Climalog-Ficha': ficha},
                                body: JSON.stringify(cuerpo)});
    if (r.status === 401) {
      location.href = '/entrar';
      throw new Error('Hace falta entrar de nuevo.');
    }
    return {estado: r.status, datos: await respuesta(r).catch(e => ({error: e.message}))};
  } catch (e) {
    throw enPalabras(e, limite);
  }
}
