// What the plots draw, without a page: which plot each column goes to, the
// time axis's marks, and the points of each series from the server's spans
// (a bucket's lowest and highest reading when the range holds more lines
// than the plot has pixels).

// The desktop viewer's colours, in the same order within each plot.
export const colores = ['#1f77b4', '#d62728', '#2ca02c', '#ff7f0e', '#9467bd',
                        '#8c564b', '#e377c2', '#7f7f7f', '#bcbd22', '#17becf'];
export const pasoEntrada = 1.5;   // inputs stack in their strip, 0..1 each
const D = 86400, H = 3600;
export const marcasX = [
  [D * 365, '{YYYY}', null, null, null, null, null, null, 1],
  [D * 28, '{MMM}', '\n{YYYY}', null, null, null, null, null, 1],
  [D, '{D} {MMM}', '\n{YYYY}', null, null, null, null, null, 1],
  [H, '{HH}:{mm}', '\n{D} {MMM} {YYYY}', null, '\n{D} {MMM}', null, null, null, 1],
  [60, '{HH}:{mm}', '\n{D} {MMM} {YYYY}', null, '\n{D} {MMM}', null, null, null, 1],
  [1, '{HH}:{mm}:{ss}', '\n{D} {MMM} {YYYY}', null, '\n{D} {MMM}', null, null, null, 1],
];

// The plot of a column, from its class as the archive read it from the
// header (T, H, a..d a channel, 1 2 an input) and its device's type.
export function clase(s) {
  if (s.tipo === 'DET' || s.tipo === 'CTR' || s.clase === '1' || s.clase === '2')
    return {clave: 'entradas', titulo: 'Entradas'};
  if (s.tipo === 'AVI' || ['a', 'b', 'c', 'd'].includes(s.clase))
    return {clave: `canal:${s.unidad}`, titulo: s.unidad ? `Canales (${s.unidad})` : 'Canales (sin unidad)'};
  if (s.clase === 'T' && s.unidad === 'ºC')
    return {clave: 'temperatura', titulo: 'Temperatura (ºC)'};
  if (s.clase === 'H')
    return {clave: 'humedad', titulo: 'Humedad (%)'};
  return {clave: `canal:${s.unidad}`, titulo: s.unidad ? `Canales (${s.unidad})` : 'Canales (sin unidad)'};
}

// As the desktop viewer: temperatures, humidities, channels by unit, inputs.
export function grupos(lista) {
  const orden = k => k === 'temperatura' ? 0 : k === 'humedad' ? 1 : k === 'entradas' ? 3 : 2;
  const porClave = new Map();
  for (const s of lista) {
    const c = clase(s);
    if (!porClave.has(c.clave))
      porClave.set(c.clave, {...c, series: []});
    porClave.get(c.clave).series.push(s);
  }
  return [...porClave.values()].sort((a, b) => orden(a.clave) - orden(b.clave));
}

export function etiqueta(s, varios) {
  return varios ? `${s.estacion} - puerto ${s.puerto} - ${s.columna}` : s.columna;
}

// The points of one series: a line per row, or a bucket's lowest and
// highest reading one after the other; a null where the readings stop for
// longer than a bucket or than a few of their own intervals (a gap), and
// the gaps themselves, from the reading before to the reading after.
export function puntos(sr, cubo, desplaza) {
  const xs = [], ys = [], huecos = [];
  const t = sr.t;
  const pasos = [];
  for (let i = 1; i < t.length && pasos.length < 2000; i++)
    pasos.push(t[i] - t[i - 1]);
  pasos.sort((a, b) => a - b);
  const paso = pasos.length ? pasos[pasos.length >> 1] : 0;
  const hueco = Math.max(2 * cubo, 5 * paso);
  for (let i = 0; i < t.length; i++) {
    if (i > 0 && t[i] - t[i - 1] > hueco) {
      xs.push((t[i] + t[i - 1]) / 2);
      ys.push(null);
      huecos.push([t[i - 1], t[i]]);
    }
    const lo = sr.min[i], hi = sr.max[i];
    xs.push(t[i]);
    ys.push(lo == null ? null : lo + desplaza);
    if (lo != null && hi != null && hi !== lo) {
      xs.push(t[i] + cubo / 2);
      ys.push(hi + desplaza);
    }
  }
  return [xs, ys, huecos];
}

// Several series on one time axis (stations write at their own times).
// At another series' time a line goes on through (undefined), but inside
// one of its gaps it stays broken (null): a stop drawn beside another
// station's column is still a stop, not a ramp.
export function junta(tablas) {
  if (tablas.length === 1)
    return [tablas[0][0], tablas[0][1]];
  const xs = [...new Set(tablas.flatMap(t => t[0]))].sort((a, b) => a - b);
  const indice = new Map(xs.map((x, i) => [x, i]));
  const columnas = tablas.map(([txs, tys, huecos]) => {
    const ys = new Array(xs.length).fill(undefined);
    for (const [a, b] of huecos) {
      let i = indice.get(a) + 1;
      for (; i < xs.length && xs[i] < b; i++)
        ys[i] = null;
    }
    for (let i = 0; i < txs.length; i++)
      ys[indice.get(txs[i])] = tys[i];
    return ys;
  });
  return [xs, ...columnas];
}
