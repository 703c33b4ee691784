// The per-message cost of a check on our side of the wire: parsing a header into the message
// object and making a list row's texts, and decoding the texts the window shows; and the cost
// of a preview's text and attachment names.
#include "pop3/HeaderText.h"
#include "pop3/Util.h"
#include "pop3/WireMessage.h"

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

namespace {

// A header as mail services send it today: trace lines, authentication results, folded lines.
std::vector<std::string> TypicalHeader()
{
    std::vector<std::string> lines;
    for (int i = 0; i < 6; ++i) {
        lines.push_back("Received: from mx" + std::to_string(i) +
                        ".example.net (mx.example.net [192.0.2.1])");
        lines.push_back("\tby pop.example.org (Postfix) with ESMTPS id 4AB2C3D4E5F6");
        lines.push_back("\tfor <ann@example.org>; Sun, 06 Dec 2026 20:07:05 +0000 (UTC)");
    }
    lines.push_back("DKIM-Signature: v=1; a=rsa-sha256; c=relaxed/relaxed; d=example.net;");
    for (int i = 0; i < 4; ++i)
        lines.push_back("\tb=Yq3Zx8HkqLm0PqRsTuVwXyZaBcDeFgHiJkLmNoPqRsTuVwXyZ0123456789abcdefgh");
    lines.push_back("From: \"Doe, Jane\" <jane@example.net>");
    lines.push_back("To: \"Smith, John\" <john@example.org>, ann@example.org,");
    lines.push_back(" \"Lee, Dan\" <dan@example.org>");
    lines.push_back("Cc: team@example.org");
    lines.push_back("Subject: =?UTF-8?Q?Quarterly_figures_for_the_northern_r=C3=A9gion?=");
    lines.push_back("Date: Sun, 06 Dec 2026 20:07:05 +0000");
    lines.push_back("Message-ID: <20261206200705.12345@example.net>");
    lines.push_back("MIME-Version: 1.0");
    lines.push_back("Content-Type: multipart/alternative; boundary=\"b1\"");
    return lines;
}

std::size_t Bytes(const std::vector<std::string>& lines)
{
    std::size_t total = 0;
    for (const std::string& line : lines)
        total += line.size() + 2;
    return total;
}

// What the check does per message once the header lines are in.
void BM_ParseHeaderAndRowTexts(benchmark::State& state)
{
    const std::vector<std::string> header = TypicalHeader();
    TWireMessage message;
    for (auto _ : state) {
        message.Clear();
        message.SetHeaderLines(header);
        const std::string from = message.From();
        benchmark::DoNotOptimize(ExtractSenderName(from));
        benchmark::DoNotOptimize(ExtractSenderAddress(from));
        benchmark::DoNotOptimize(message.Subject());
        benchmark::DoNotOptimize(
            FormatMessageDate(message.HeaderValue("Date"), message.Date(), "/"));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * Bytes(header)));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ParseHeaderAndRowTexts);

void BM_DecodeHeaderText(benchmark::State& state, std::string text)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(DecodeHeaderText(text));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK_CAPTURE(BM_DecodeHeaderText, Ascii,
                  std::string("Re: Quarterly figures for the northern region, second draft"));
BENCHMARK_CAPTURE(BM_DecodeHeaderText, RawUtf8,
                  std::string("Re: Quartalszahlen f\xC3\xBCr die n\xC3\xB6rdliche Region"));
BENCHMARK_CAPTURE(BM_DecodeHeaderText, QUtf8,
                  std::string("=?UTF-8?Q?Quarterly_figures_for_the_northern_r=C3=A9gion?="));
BENCHMARK_CAPTURE(BM_DecodeHeaderText, BUtf8TwoWords,
                  std::string("=?utf-8?B?UXVhcnRhbHN6YWhsZW4gZsO8ciBkaWUg?= "
                              "=?utf-8?B?bsO2cmRsaWNoZSBSZWdpb24=?="));
BENCHMARK_CAPTURE(BM_DecodeHeaderText, QLatin1,
                  std::string("=?iso-8859-1?Q?Quartalszahlen_f=FCr_die_n=F6rdliche_Region?="));
BENCHMARK_CAPTURE(BM_DecodeHeaderText, BIso2022Jp,
                  std::string("=?ISO-2022-JP?B?GyRCRnxLXDhsGyhC?="));

// A preview's captured lines: a header, then 50 body lines of a multipart message whose text
// part is quoted-printable, with an HTML alternative and an attachment.
std::vector<std::string> PreviewLines(bool htmlOnly)
{
    std::vector<std::string> lines = TypicalHeader();
    lines.back() = "Content-Type: multipart/mixed; boundary=\"b1\"";
    lines.insert(lines.end(), {"", "--b1"});
    if (!htmlOnly) {
        lines.insert(lines.end(), {"Content-Type: text/plain; charset=utf-8",
                                   "Content-Transfer-Encoding: quoted-printable", ""});
        for (int i = 0; i < 20; ++i)
            lines.push_back("Les chiffres du trimestre pour la r=C3=A9gion nord sont joints, =");
        lines.insert(lines.end(), {"avec un r=C3=A9sum=C3=A9.", "--b1"});
    }
    lines.insert(lines.end(), {"Content-Type: text/html; charset=utf-8", ""});
    for (int i = 0; i < 20; ++i)
        lines.push_back("<p>Les chiffres du <b>trimestre</b> &amp; un r&eacute;sum&eacute;.</p>");
    lines.insert(lines.end(),
                 {"--b1", "Content-Type: application/pdf;", "\tname*0*=UTF-8''R%C3%A9sum%C3%A9;",
                  "\tname*1=\".pdf\"", "Content-Transfer-Encoding: base64", "", "JVBERi0xLjQK"});
    return lines;
}

// What a preview does with the captured lines on our side: the text and the attachment names.
void BM_PreviewText(benchmark::State& state, bool htmlOnly)
{
    const std::vector<std::string> lines = PreviewLines(htmlOnly);
    for (auto _ : state) {
        benchmark::DoNotOptimize(ExtractBodyText(lines));
        benchmark::DoNotOptimize(ExtractAttachmentNames(lines));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * Bytes(lines)));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK_CAPTURE(BM_PreviewText, QuotedPrintableWithHtml, false);
BENCHMARK_CAPTURE(BM_PreviewText, HtmlOnly, true);

} // namespace

BENCHMARK_MAIN();
