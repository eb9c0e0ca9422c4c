// Numbers, times and durations as the page writes them: decimal comma,
// each station's time in its own zone whatever the browser's, Spanish
// names of months and days for the plots' time axes.

export const nombres = {
  MMMM: ['enero', 'febrero', 'marzo', 'abril', 'mayo', 'junio', 'julio', 'agosto', 'septiembre', 'octubre',
         'noviembre', 'diciembre'],
  MMM: ['ene', 'feb', 'mar', 'abr', 'may', 'jun', 'jul', 'ago', 'sep', 'oct', 'nov', 'dic'],
  WWWW: ['domingo', 'lunes', 'martes', 'miércoles', 'jueves', 'viernes', 'sábado'],
  WWW: ['dom', 'lun', 'mar', 'mié', 'jue', 'vie', 'sáb'],
};

export function numero(v) {
  return v == null ? '' : String(v).replace('.', ',');
}

const formatos = new Map();
function formato(zona) {
  if (!formatos.has(zona)) {
    const opciones = {year: 'numeric', month: '2-digit', day: '2-digit', hour: '2-digit', minute: '2-digit',
                      second: '2-digit', hourCycle: 'h23'};
    let f;
    try {
      f = new Intl.DateTimeFormat('es-ES', {...opciones, timeZone: zona || undefined});
    } catch (e) {
      f = new Intl.DateTimeFormat('es-ES', opciones);
    }
    formatos.set(zona, f);
  }
  return formatos.get(zona);
}

function partes(ms, zona) {
  const p = {};
  for (const x of formato(zona).formatToParts(new Date(ms)))
    p[x.type] = x.value;
  return p;
}

// As the capture file writes it: 07-12-2026 14:03:09, in the station's time.
export function hora(ms, zona) {
  const p = partes(ms, zona);
  return `${p.day}-${p.month}-${p.year} ${p.hour}:${p.minute}:${p.second}`;
}

// The station's wall-clock time of `texto` (2026-12-07T14:03) as an instant.
export function desdeZona(texto, zona) {
  const m = /^(\d{4})-(\d\d)-(\d\d)T(\d\d):(\d\d)(?::(\d\d))?/.exec(texto);
  if (!m)
    return NaN;
  const pared = Date.UTC(+m[1], m[2] - 1, +m[3], +m[4], +m[5], +(m[6] || 0));
  const desfaseEn = ms => {
    const p = partes(ms, zona);
    return Date.UTC(+p.year, p.month - 1, +p.day, +p.hour, +p.minute, +p.second) - ms;
  };
  const t = pared - desfaseEn(pared);
  return pared - desfaseEn(t);
}

export function enZona(ms, zona) {
  const p = partes(ms, zona);
  return `${p.year}-${p.month}-${p.day}T${p.hour}:${p.minute}:${p.second}`;
}

export function duracion(ms) {
  const s = Math.round(ms / 1000);
  if (s < 120) return `${s} s`;
  if (s < 7200) return `${Math.round(s / 60)} min`;
  if (s < 2 * 86400) return `${Math.round(s / 3600)} h`;
  return `${Math.round(s / 86400)} días`;
}

export function iso(segundos) {
  return new Date(Math.round(segundos * 1000)).toISOString();
}
