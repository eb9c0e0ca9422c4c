// The page of every station, started: the alarms' panel (avisos.js); the
// overview (resumen.js), asked again every second and updated in place,
// with a summary of the stations that deserve a look; plots of the columns
// marked in it (graficas.js); and the export of what the plot shows. The
// parts that need no page (formatos.js, marcas.js, series.js,
// peticiones.js, avisos.js's texts) are tested under Node by tests/web.
import * as avisos from './avisos.js';
import {$} from './dom.js';
import {enZona} from './formatos.js';
import * as graficas from './graficas.js';
import * as resumen from './resumen.js';

function inicia() {
  window.climalog = {grafica: graficas.grafica};
  $('dibujar').addEventListener('click', () => graficas.dibuja(resumen.marcadas()));
  $('intervalo').addEventListener('change', () => {
    const otro = $('intervalo').value === '';
    $('otro').hidden = !otro;
    if (otro && !$('desde').value) {
      const zona = resumen.primeraZona();
      const ahora = resumen.ahoraServidor();
      $('desde').value = enZona(ahora - 86400000, zona);
      $('hasta').value = enZona(ahora, zona);
    }
  });
  graficas.inicia(resumen.ahoraServidor);
  avisos.inicia(resumen.zonas, resumen.primeraZona);
  setInterval(resumen.pinta, 1000);
  resumen.refresca();
}

inicia();
