// bench-links: vtr_foundation
// Parsing speed of our JSON reader against Qt's QJsonDocument converted to
// QVariant (the same result type), on three well-known documents.

#include "foundation/Json.h"

#include <QFile>
#include <QJsonDocument>

#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>

namespace {

QByteArray loadDocument(const char *name)
{
    QFile file(QStringLiteral(VTR_SHARED_DATA_DIR "/json-bench/") + QLatin1String(name));
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot read %s\n", qPrintable(file.fileName()));
        std::exit(1);
    }
    return file.readAll();
}

void setBytes(benchmark::State &state, const QByteArray &data)
{
    state.SetBytesProcessed(int64_t(state.iterations()) * data.size());
}

void BM_QorJsonUtf8(benchmark::State &state, const char *name)
{
    const QByteArray data = loadDocument(name);
    QorJsonParser parser;
    if (!parser.objectWithUtf8(data).isValid()) {
        state.SkipWithError("parse failed");
        return;
    }
    for (auto _ : state) {
        QVariant value = parser.objectWithUtf8(data);
        benchmark::DoNotOptimize(value);
    }
    setBytes(state, data);
}

// The text entry point, as JSONValue() is called, with the text already a QString.
void BM_QorJsonString(benchmark::State &state, const char *name)
{
    const QString text = QString::fromUtf8(loadDocument(name));
    QorJsonParser parser;
    for (auto _ : state) {
        QVariant value = parser.objectWithString(text);
        benchmark::DoNotOptimize(value);
    }
    setBytes(state, text.toUtf8());
}

void BM_QJsonDocumentToVariant(benchmark::State &state, const char *name)
{
    const QByteArray data = loadDocument(name);
    for (auto _ : state) {
        QVariant value = QJsonDocument::fromJson(data).toVariant();
        benchmark::DoNotOptimize(value);
    }
    setBytes(state, data);
}

} // namespace

#define JSON_BENCH(file)                                                                                               \
    BENCHMARK_CAPTURE(BM_QorJsonUtf8, file, #file ".json")->Unit(benchmark::kMillisecond);                             \
    BENCHMARK_CAPTURE(BM_QorJsonString, file, #file ".json")->Unit(benchmark::kMillisecond);                           \
    BENCHMARK_CAPTURE(BM_QJsonDocumentToVariant, file, #file ".json")->Unit(benchmark::kMillisecond);

JSON_BENCH(twitter)
JSON_BENCH(citm_catalog)
JSON_BENCH(canada)

BENCHMARK_MAIN();
