// Turns a Markdown document into a PDF at build time, so the instructions that
// ship with the program are written and reviewed as plain text.
//
//   korvinet_make_pdf <input.md> <output.pdf> [title]

#include <QFile>
#include <QGuiApplication>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QTextDocument>
#include <cstdio>

int main(int argc, char* argv[]) {
    QGuiApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s <input.md> <output.pdf> [title]\n", argv[0]);
        return 2;
    }
    QFile input(QString::fromLocal8Bit(argv[1]));
    if (!input.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
        return 1;
    }
    QTextDocument document;
    QFont font(QStringLiteral("Liberation Sans"));
    font.setPointSize(10);
    document.setDefaultFont(font);
    document.setMarkdown(QString::fromUtf8(input.readAll()));

    QPdfWriter pdf(QString::fromLocal8Bit(argv[2]));
    pdf.setTitle(argc > 3 ? QString::fromLocal8Bit(argv[3]) : QString());
    pdf.setCreator(QStringLiteral("Korvinet"));
    pdf.setPageSize(QPageSize(QPageSize::A4));
    pdf.setPageMargins(QMarginsF(20, 20, 20, 20), QPageLayout::Millimeter);
    document.print(&pdf);
    if (!QFile::exists(QString::fromLocal8Bit(argv[2]))) {
        std::fprintf(stderr, "cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
