// A report written as a reader gets it, and read back with poppler's tools:
// the text of every page (figures with a decimal comma, times in the
// station's zone, durations, shares), the page count and size, the fonts
// embedded; and its table as CSV. The figures are values written here.
#include "reports/report.h"
#include "support/support.h"

#include <QProcess>

#include <gtest/gtest.h>
#include <regex>

namespace {

using namespace reports;

// 7 December 2026 at Madrid (UTC+1), ms.
constexpr std::int64_t dayFrom = 1796598000000, dayTo = dayFrom + 86400000, hour = 3600000;

struct ReadBack {
    std::vector<std::string> pages; // pdftotext -layout, one a page
    int count = 0; // pdfinfo's
    std::string info, fonts;
};

std::string run(const char *program, const QStringList &args)
{
    QProcess p;
    p.start(QString::fromLatin1(program), args);
    EXPECT_TRUE(p.waitForFinished(60000)) << program;
    EXPECT_EQ(p.exitCode(), 0) << program << ' ' << p.readAllStandardError().toStdString();
    return p.readAllStandardOutput().toStdString();
}

ReadBack readBack(const std::string &pdf)
{
    TempFolder dir;
    dir.write("informe.pdf", QByteArray::fromStdString(pdf));
    const QString file = dir.file("informe.pdf");
    ReadBack r;
    std::string text = run("pdftotext", {"-layout", "-enc", "UTF-8", file, "-"});
    for (std::size_t at = 0, end; (end = text.find('\f', at)) != std::string::npos; at = end + 1)
        r.pages.push_back(text.substr(at, end - at));
    r.info = run("pdfinfo", {file});
    r.fonts = run("pdffonts", {file});
    std::smatch m;
    if (std::regex_search(r.info, m, std::regex("Pages: +([0-9]+)")))
        r.count = std::stoi(m[1]);
    return r;
}

std::string all(const ReadBack &r)
{
    std::string s;
    for (const std::string &p : r.pages)
        s += p + '\n';
    return s;
}

// Each pattern matches a line of `text` below the one the previous matched.
void expectInOrder(const std::string &text, const std::vector<std::string> &patterns)
{
    std::size_t at = 0;
    for (const std::string &p : patterns) {
        const std::regex re(p);
        std::size_t found = std::string::npos;
        for (std::size_t end; at < text.size(); at = end + 1) {
            end = std::min(text.find('\n', at), text.size());
            if (std::regex_search(text.substr(at, end - at), re)) {
                found = at;
                at = end + 1;
                break;
            }
        }
        ASSERT_NE(found, std::string::npos) << "not found in order: " << p << "\n" << text;
    }
}

Column column(const char *name, char kind, const char *unit)
{
    Column c;
    c.station = "Sala 3º de Tejidos";
    c.port = "1";
    c.column = name;
    c.kind = kind;
    c.unit = unit;
    c.device = "Sonda Año";
    c.deviceType = kind == '1' ? "DET" : "STT";
    c.periodSeconds = 10;
    c.expected = 8640;
    c.limits.push_back({dayFrom, dayTo, std::nullopt, std::nullopt, false});
    return c;
}

Line line(int column, double base)
{
    Line l;
    l.column = column;
    for (int k = 0; k < 96; ++k) {
        l.t.push_back(dayFrom + k * 900000);
        const bool gap = k >= 40 && k < 50;
        l.min.push_back(gap ? NAN : base + (k % 7) * 0.1);
        l.max.push_back(gap ? NAN : base + (k % 7) * 0.1 + 0.05);
    }
    return l;
}

// A day of a museum's room: a temperature whose limits changed at 10:00, a
// humidity without limits, a door, a probe that gave nothing.
Report day()
{
    Report r;
    r.request.site = "Museo del Traje";
    r.request.station = "Sala 3º de Tejidos";
    r.request.period = {dayFrom, dayTo, "7 de diciembre de 2026"};
    r.request.madeAt = dayTo + 9 * hour + 15 * 60000;
    r.zone = "Europe/Madrid";
    Column t = column("Temperatura vitrina", 'T', "ºC");
    t.series = 17, t.lines = 8600, t.received = 8597, t.errors = 3, t.missing = 40;
    t.min = -3.25, t.minAt = dayFrom + 5 * hour + 4 * 60000 + 9000;
    t.max = 27.5, t.maxAt = dayFrom + 16 * hour + 30 * 60000;
    t.mean = 12.3456, t.stddev = 1.2, t.mkt = 13.987;
    t.limits = {{dayFrom, dayFrom + 10 * hour, 2.0f, 8.0f, true},
                {dayFrom + 10 * hour, dayTo, 3.0f, 8.5f, true}};
    t.belowMs = 7500000, t.aboveMs = 45000;
    Column h = column("Humedad relativa", 'H', "%");
    h.lines = h.received = 8640;
    h.min = 40.25, h.minAt = dayFrom, h.max = 61.5, h.maxAt = dayTo - 10000, h.mean = 50,
    h.stddev = 0.5;
    Column d = column("Puerta", '1', "");
    d.lines = d.received = 8640;
    d.min = 0, d.minAt = dayFrom, d.max = 1, d.maxAt = dayFrom + 8 * hour;
    d.mean = 0.25, d.stddev = 0.43, d.activeMs = 12000000;
    Column none = column("Sonda rota", 'T', "ºC");
    none.missing = 8640;
    r.columns = {t, h, d, none};
    Alarm a;
    a.station = t.station, a.port = "1", a.column = t.column, a.condition = "alto",
    a.rule = "Vitrinas";
    a.start = dayFrom + 16 * hour + 20 * 60000, a.end = a.start + 25 * 60000 + 10000;
    a.extreme = 27.5, a.limit = 8.5, a.ackBy = "Lucía Núñez", a.ackAt = a.start + 5 * 60000;
    a.comment = "Se abrió la vitrina (limpieza).";
    r.alarms = {a};
    r.changes = {{dayFrom + 10 * hour, t.station, "1", "Sonda Año", "límites", "2,0 a 8,0 ºC",
                  "3,0 a 8,5 ºC"}};
    r.notes = {"Los límites de Temperatura vitrina cambiaron en el periodo."};
    Plot pt{"Temperaturas", "ºC", false, {line(0, 20)}, {2, 8, 3, 8.5}};
    Plot ph{"Humedades", "%", false, {line(1, 40.2)}, {}};
    Plot pd{"Entradas", "", true, {line(2, 0)}, {}};
    r.plots = {pt, ph, pd};
    return r;
}

TEST(ReportPdf, FiguresReadBackInTheirPlaces)
{
    const ReadBack r = readBack(pdf(day()));
    ASSERT_EQ(r.count, int(r.pages.size()));
    expectInOrder(
        all(r),
        {
            "Informe de Sala 3º de Tejidos +Hecho el 08/12/2026 09:15:00",
            "Sitio: Museo del Traje",
            "Estación: Sala 3º de Tejidos · Puerto: 1",
            "Periodo: 7 de diciembre de 2026, del 07/12/2026 00:00:00 al 08/12/2026 00:00:00 "
            "\\(Europe/Madrid\\)",
            "Los límites de Temperatura vitrina cambiaron en el periodo",
            "Resumen por columna",
            "Columna +Lecturas +Mínimo +Máximo +Media +Desv. +TCM",
            "Temperatura vitrina +esperadas 8640 +-3,25 +27,5 +12,35 +1,20 +13,99 +2 a 8 ºC +bajo "
            "2 h 05 min$",
            "temperatura, ºC +líneas 8600 +07/12/2026 +07/12/2026 +3 a 8,5 ºC desde +\\(8,7 %\\)$",
            "Sonda Año \\(STT\\), cada 10 s +recibidas 8597 +05:04:09 +16:30:00 +07/12/2026 +sobre "
            "45 s$",
            "serie 17 +ERR 3 +10:00:00 +\\(0,1 %\\)$",
            "faltan 40",
            "Humedad relativa +esperadas 8640 +40,25 +61,5 +50,00 +0,50 +- +sin límites +-$",
            "recibidas 8640 +00:00:00 +23:59:50",
            "Puerta +esperadas 8640 +0 +1 +0,25 +0,43 +- +sin límites +activa 3 h 20 min",
            "entrada 1 +líneas 8640 +07/12/2026 +07/12/2026 +\\(13,9 %\\)$",
            "Sonda rota +esperadas 8640 +Sin lecturas en el periodo.",
            "faltan 8640",
            "Avisos del periodo",
            "Sala 3º de Tejidos - puerto +alto +07/12/2026 +07/12/2026 +27,5 +8,5 +Lucía Núñez +Se "
            "abrió "
            "la vitrina",
            "16:20:00 +16:45:10 .*16:25:00",
            "Cambios de configuración",
            "07/12/2026 +Sala 3º de Tejidos - puerto +Sonda Año +límites +2,0 a 8,0 ºC +3,0 a 8,5 "
            "ºC",
            "Gráficas",
            "Temperaturas \\(ºC\\)",
            "00:00 +06:00 +12:00 +18:00 +00:00",
            "07/12 +08/12",
            "Temperatura vitrina +límites",
            "Humedades \\(%\\)",
            "40,[2468]",
            "Entradas",
            "Puerta",
        });
    EXPECT_NE(r.info.find("Page size:       595.276 x 841.89 pts (A4)"), std::string::npos)
        << r.info;
}

TEST(ReportPdf, EveryPageNumberedWithItsHeaderAndFontsEmbedded)
{
    Report many = day();
    many.columns.clear();
    for (int i = 1; i <= 400; ++i) {
        Column c = column("", 'T', "ºC");
        char name[8];
        std::snprintf(name, sizeof name, "C%03d", i);
        c.column = name;
        c.lines = c.received = 8640;
        c.min = -40.5, c.max = 99.25, c.mean = 20, c.stddev = 1;
        many.columns.push_back(c);
    }
    Report empty;
    empty.request.station = "Cámara vacía";
    empty.request.period = {dayFrom, dayTo, "7 de diciembre de 2026"};
    empty.zone = "Europe/Madrid";
    // A hostile name: very long, without spaces, line ends, a PDF's own
    // delimiters and a byte that is no UTF-8.
    Report hostile = day();
    std::string odd = "Ñ%(\\)\n<<>>/";
    for (int i = 0; i < 9; ++i)
        odd += odd;
    hostile.request.site = hostile.columns[0].column = odd + "\xff\xfe";
    hostile.columns[1].column = std::string(3000, 'W');
    hostile.alarms[0].comment = odd;
    const int dayPages = readBack(pdf(day())).count;

    struct Case {
        const char *name;
        const Report &report;
        int least, most; // pages
    };
    for (const Case &c : {Case{"400 columnas", many, 12, 60}, Case{"vacío", empty, 1, 1},
                          Case{"nombre hostil", hostile, dayPages, dayPages + 1}}) {
        SCOPED_TRACE(c.name);
        const ReadBack r = readBack(pdf(c.report));
        ASSERT_EQ(r.count, int(r.pages.size()));
        EXPECT_GE(r.count, c.least);
        EXPECT_LE(r.count, c.most);
        int rowsSeen = 0;
        for (int n = 1; n <= r.count; ++n) {
            const std::string &page = r.pages[std::size_t(n - 1)];
            EXPECT_NE(page.find("Informe de "), std::string::npos) << "page " << n;
            EXPECT_NE(page.find("Página " + std::to_string(n) + " de " + std::to_string(r.count)),
                      std::string::npos)
                << "page " << n;
            // Every page of the column table repeats its header row; no
            // column is lost or doubled between pages.
            const bool rows = page.find(" esperadas ") != std::string::npos;
            EXPECT_EQ(rows,
                      std::regex_search(page, std::regex("Columna +Lecturas +Mínimo +Máximo")))
                << "page " << n;
            const std::regex name("\nC([0-9]{3}) ");
            for (auto it = std::sregex_iterator(page.begin(), page.end(), name);
                 it != std::sregex_iterator(); ++it)
                EXPECT_EQ(std::stoi((*it)[1]), ++rowsSeen) << "page " << n;
        }
        EXPECT_EQ(rowsSeen, &c.report == &many ? 400 : 0);
        if (&c.report == &empty)
            expectInOrder(all(r),
                          {"Estación: Cámara vacía", "Ninguna columna en el informe.",
                           "Ningún aviso en el periodo.",
                           "Ningún cambio de configuración en el periodo.", "Ninguna gráfica"});
        // pdffonts: name, type, encoding, then "emb sub uni" and the object.
        const std::regex font("(yes|no) +(yes|no) +(yes|no) +[0-9]+ +[0-9]+");
        int fonts = 0;
        for (auto it = std::sregex_iterator(r.fonts.begin(), r.fonts.end(), font);
             it != std::sregex_iterator(); ++it) {
            ++fonts;
            EXPECT_EQ((*it)[1], "yes") << r.fonts;
        }
        EXPECT_GE(fonts, 1) << r.fonts;
    }
}

// A plot's page as pixels at 72 dpi, a point each: whether column x holds
// a pixel of the first line's colour (blue), from pdftoppm's PPM.
std::vector<bool> blueColumns(const std::string &pdf, int page)
{
    TempFolder dir;
    dir.write("p.pdf", QByteArray::fromStdString(pdf));
    run("pdftoppm",
        {"-r", "72", "-f", QString::number(page), "-l", QString::number(page), "-singlefile",
         dir.file("p.pdf"), dir.file("p")});
    const QByteArray ppm = dir.read("p.ppm");
    int w = 0, h = 0, max = 0, used = 0;
    EXPECT_EQ(std::sscanf(ppm.constData(), "P6 %d %d %d%n", &w, &h, &max, &used), 3);
    std::vector<bool> blue(std::size_t(std::max(w, 0)));
    const auto *px = reinterpret_cast<const unsigned char *>(ppm.constData()) + used + 1;
    for (int y = 0; y < h && ppm.size() >= used + 1 + 3 * w * h; ++y)
        for (int x = 0; x < w; ++x) {
            const unsigned char *p = px + 3 * (y * w + x);
            if (p[2] > p[0] + 60)
                blue[std::size_t(x)] = true;
        }
    return blue;
}

TEST(ReportPdf, APlotsGapIsLeftEmpty)
{
    // The humidity's line stops from 10:00 to 12:30 (buckets 40 to 49 of
    // the day's 96): its plot's area spans x 78 to 549 of the page.
    Report r = day();
    r.plots = {r.plots[1]};
    const std::string file = pdf(r);
    const ReadBack text = readBack(file);
    int page = 1;
    while (page <= text.count &&
           text.pages[std::size_t(page - 1)].find("Humedades (%)") == std::string::npos)
        ++page;
    ASSERT_LE(page, text.count);
    const std::vector<bool> blue = blueColumns(file, page);
    ASSERT_GE(blue.size(), 560u);
    const auto at = [](double hours) { return std::size_t(78 + 471.3 * hours / 24); };
    for (std::size_t x = at(0.5); x < at(9.5); x += 4)
        EXPECT_TRUE(blue[x]) << "the line before the gap, x " << x;
    for (std::size_t x = at(10.2); x < at(12.3); ++x)
        EXPECT_FALSE(blue[x]) << "the gap, x " << x;
    for (std::size_t x = at(12.7); x < at(23.5); x += 4)
        EXPECT_TRUE(blue[x]) << "the line after the gap, x " << x;
}

TEST(ReportCsv, TheColumnTableReadBack)
{
    Report r = day();
    // A station of another zone (UTC-6) beside the others writes its own times.
    r.columns[0].station = "Bodega CDMX";
    r.columns[0].zone = "America/Mexico_City";
    r.columns[1].column = "Sala; \"norte\"";
    // The autumn's change: a day of 25 h, its second 02:30 an hour after
    // the first.
    r.columns[1].minAt = 1792879200000 + 7 * hour / 2;
    r.columns[2].column = "=1+1";
    r.columns[2].activeMs = 9000000;
    r.request.period = {1792879200000, 1792969200000, "25 de octubre de 2026"};
    // Cells apart with ';', a quoted one with its quotes doubled, a formula's
    // '=' defused; a cell with nothing to say empty.
    EXPECT_EQ(csv(r),
              "Serie;Estación;Puerto;Columna;Unidad;Clase;Dispositivo;Tipo;Periodo (s);Esperadas;"
              "Líneas;Recibidas;ERR;Faltan;Mínimo;Hora del mínimo;Máximo;Hora del máximo;Media;"
              "Desviación típica;TCM (ºC);Límite inferior;Límite superior;Límites en el periodo;"
              "Bajo el mínimo (s);Bajo el mínimo (%);Sobre el máximo (s);Sobre el máximo (%);"
              "Activa (s);Activa (%)\r\n"
              "17;Bodega CDMX;1;Temperatura vitrina;ºC;T;Sonda Año;STT;10;8640;8600;8597;3;"
              "40;-3,25;06/12/2026 22:04:09;27,5;07/12/2026 09:30:00;12,3456;1,2;13,987;3;8,5;"
              "2 a 8 ºC desde 06/12/2026 17:00:00, 3 a 8,5 ºC desde 07/12/2026 03:00:00;"
              "7500;8,33;45;0,05;;\r\n"
              "0;Sala 3º de Tejidos;1;\"Sala; \"\"norte\"\"\";%;H;Sonda Año;STT;10;8640;8640;8640;"
              "0;0;40,25;25/10/2026 02:30:00;61,5;07/12/2026 23:59:50;50;0,5;;;;;;;;;;\r\n"
              "0;Sala 3º de Tejidos;1;'=1+1;;1;Sonda Año;DET;10;8640;8640;8640;0;0;0;"
              "07/12/2026 00:00:00;1;07/12/2026 08:00:00;0,25;0,43;;;;;;;;;9000;10,00\r\n"
              "0;Sala 3º de Tejidos;1;Sonda rota;ºC;T;Sonda Año;STT;10;8640;0;0;0;8640;"
              ";;;;;;;;;;;;;;;\r\n");
}

} // namespace
