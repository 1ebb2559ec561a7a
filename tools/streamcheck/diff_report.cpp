#include "diff_report.h"

#include <cstdio>

namespace streamcheck {

namespace {

std::string Mm(int32_t dots) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", dots / kDotsPerMm);
  return text;
}

const char* VerdictWord(LabelVerdict verdict) {
  switch (verdict) {
    case LabelVerdict::Same: return "same";
    case LabelVerdict::Differ: return "differ";
    case LabelVerdict::OnlyInA: return "only in A";
    case LabelVerdict::OnlyInB: return "only in B";
  }
  return "?";
}

std::string Plural(size_t n, const std::string& word) { return std::to_string(n) + " " + word + (n == 1 ? "" : "s"); }

std::string Size(int32_t width, int32_t height) {
  return std::to_string(width) + " x " + std::to_string(height) + " dots";
}

std::string BoxText(const PixelBox& box) {
  return "x " + std::to_string(box.x) + "-" + std::to_string(box.x + box.width - 1) + ", y " + std::to_string(box.y) +
         "-" + std::to_string(box.y + box.height - 1) + " (" + Size(box.width, box.height) + ", " + Mm(box.width) +
         " x " + Mm(box.height) + " mm)";
}

std::string LabelLine(const LabelDiff& d) {
  std::string line = "label " + std::to_string(d.number) + ": " + VerdictWord(d.verdict);
  if (d.verdict == LabelVerdict::OnlyInA) return line + " (" + Size(d.widthA, d.heightA) + ")\n";
  if (d.verdict == LabelVerdict::OnlyInB) return line + " (" + Size(d.widthB, d.heightB) + ")\n";
  if (d.widthA != d.widthB || d.heightA != d.heightB) {
    line += ": " + Size(d.widthA, d.heightA) + " in A, " + Size(d.widthB, d.heightB) + " in B";
  }
  const LabelComparison& c = d.comparison;
  if (c.pixels) {
    line +=
        ": " + Plural(static_cast<size_t>(c.pixels), "pixel") + " in " + Plural(c.boxes.size() + c.moreBoxes, "area");
    for (size_t i = 0; i < c.boxes.size(); ++i) line += (i ? "; " : ": ") + BoxText(c.boxes[i]);
    if (c.moreBoxes) line += "; " + std::to_string(c.moreBoxes) + " more";
  }
  if (d.provenBy && d.provenBy != d.number) line += " (as label " + std::to_string(d.provenBy) + ")";
  return line + "\n";
}

std::string DamageText(const StreamError& e) { return "offset " + std::to_string(e.offset) + ": " + e.message; }

void Json(std::string& out, const std::string& text) {
  out += '"';
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
      out += escaped;
    } else {
      out += c;
    }
  }
  out += '"';
}

std::string JsonText(const std::string& text) {
  std::string out;
  Json(out, text);
  return out;
}

std::string JsonSide(const DiffSide& side, const std::string& name) {
  std::string out = "{\"name\":" + JsonText(name) + ",\"bytes\":" + std::to_string(side.bytes) +
                    ",\"labels\":" + std::to_string(side.labels) + ",\"damage\":";
  out += side.damage ? "{\"offset\":" + std::to_string(side.damage->offset) +
                           ",\"message\":" + JsonText(side.damage->message) + "}"
                     : "null";
  out += ",\"setups\":[";
  for (size_t i = 0; i < side.setups.size(); ++i) {
    const LabelSetup& s = side.setups[i];
    out += std::string(i ? "," : "") + "{\"media\":" + JsonText(s.media) + ",\"width\":" + std::to_string(s.width) +
           ",\"length\":" + std::to_string(s.length) + ",\"cutting\":\"" + (s.cutMode == 'E' ? "on" : "off") +
           "\",\"pagesPerCut\":" + std::to_string(s.pagesPerCut) + ",\"quality\":" + std::to_string(s.printMode) +
           ",\"direction\":\"" + (s.direction == 'B' ? "bidirectional" : "unidirectional") + "\"}";
  }
  return out + "]}";
}

std::string JsonSize(int32_t width, int32_t height) {
  if (width == 0 && height == 0) return "null";
  return "{\"width\":" + std::to_string(width) + ",\"height\":" + std::to_string(height) + "}";
}

std::string JsonLabel(const LabelDiff& d, bool pictures) {
  std::string out = "{\"number\":" + std::to_string(d.number) + ",\"verdict\":\"" + VerdictWord(d.verdict) +
                    "\",\"a\":" + JsonSize(d.widthA, d.heightA) + ",\"b\":" + JsonSize(d.widthB, d.heightB) +
                    ",\"pixels\":" + std::to_string(d.comparison.pixels) + ",\"boxes\":[";
  for (size_t i = 0; i < d.comparison.boxes.size(); ++i) {
    const PixelBox& b = d.comparison.boxes[i];
    out += std::string(i ? "," : "") + "{\"x\":" + std::to_string(b.x) + ",\"y\":" + std::to_string(b.y) +
           ",\"width\":" + std::to_string(b.width) + ",\"height\":" + std::to_string(b.height) +
           ",\"mm\":{\"x\":" + Mm(b.x) + ",\"y\":" + Mm(b.y) + ",\"width\":" + Mm(b.width) +
           ",\"height\":" + Mm(b.height) + "}}";
  }
  out += "],\"moreBoxes\":" + std::to_string(d.comparison.moreBoxes) +
         ",\"provenBy\":" + (d.provenBy ? std::to_string(d.provenBy) : std::string("null")) + ",\"picture\":";
  out += pictures && d.verdict == LabelVerdict::Differ ? JsonText(DiffPictureName(d.number)) : "null";
  return out + "}";
}

}  // namespace

std::string DiffPictureName(size_t number) {
  char name[32];
  std::snprintf(name, sizeof name, "label-%03zu.png", number);
  return name;
}

std::string DiffSummaryLine(const JobDiff& diff) {
  std::string line;
  if (diff.PrintsTheSame()) {
    line = "same: " + Plural(diff.same, "label") + " print the same";
  } else {
    line = "differ: " + Plural(diff.a.labels, "label") + " in A, " + std::to_string(diff.b.labels) +
           " in B: " + std::to_string(diff.same) + " same, " + std::to_string(diff.differ) + " differ, " +
           std::to_string(diff.onlyInA) + " only in A, " + std::to_string(diff.onlyInB) + " only in B";
    if (!diff.setup.empty()) line += "; " + Plural(diff.setup.size(), "set-up difference");
  }
  if (diff.a.damage) line += "; A damaged at offset " + std::to_string(diff.a.damage->offset);
  if (diff.b.damage) line += "; B damaged at offset " + std::to_string(diff.b.damage->offset);
  return line;
}

std::string DiffReport(const JobDiff& diff, const std::string& a, const std::string& b) {
  std::string out =
      "A: " + a + " (" + Plural(diff.a.labels, "label") + ")\nB: " + b + " (" + Plural(diff.b.labels, "label") + ")\n";
  if (diff.identicalBytes) out += "the two jobs are the same bytes\n";
  for (const SetupDifference& s : diff.setup) {
    out += "set-up " + std::to_string(s.index) + ": " + s.setting + ": " + s.a + " in A, " + s.b + " in B\n";
  }
  for (const LabelDiff& d : diff.labels) out += LabelLine(d);
  if (diff.a.damage) out += "A is damaged: " + DamageText(*diff.a.damage) + " (compared as far as it prints)\n";
  if (diff.b.damage) out += "B is damaged: " + DamageText(*diff.b.damage) + " (compared as far as it prints)\n";
  return out + DiffSummaryLine(diff) + "\n";
}

std::string DiffJson(const JobDiff& diff, const std::string& a, const std::string& b, bool pictures) {
  std::string out = "{\"verdict\":\"" + std::string(diff.PrintsTheSame() ? "same" : "differ") +
                    "\",\"summary\":" + JsonText(DiffSummaryLine(diff)) +
                    ",\"tolerance\":" + std::to_string(diff.tolerance) +
                    ",\"identicalBytes\":" + (diff.identicalBytes ? "true" : "false") +
                    ",\"a\":" + JsonSide(diff.a, a) + ",\"b\":" + JsonSide(diff.b, b) + ",\"setup\":[";
  for (size_t i = 0; i < diff.setup.size(); ++i) {
    const SetupDifference& s = diff.setup[i];
    out += std::string(i ? "," : "") + "{\"setup\":" + std::to_string(s.index) + ",\"setting\":" + JsonText(s.setting) +
           ",\"a\":" + JsonText(s.a) + ",\"b\":" + JsonText(s.b) + "}";
  }
  out += "],\"counts\":{\"same\":" + std::to_string(diff.same) + ",\"differ\":" + std::to_string(diff.differ) +
         ",\"onlyInA\":" + std::to_string(diff.onlyInA) + ",\"onlyInB\":" + std::to_string(diff.onlyInB) +
         "},\"labels\":[";
  for (size_t i = 0; i < diff.labels.size(); ++i) {
    if (i) out += ',';
    out += JsonLabel(diff.labels[i], pictures);
  }
  return out + "]}\n";
}

}  // namespace streamcheck
