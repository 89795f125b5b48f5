// SPDX-License-Identifier: MIT
// The ordered key table of the job settings record, the key lists of the
// `Default_Config` block and of printer presets, and the reader's tables
// made from them.
#include "job/settings_fields.h"

#include <strings.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace klv::job {
namespace {

// Offsets come from a pointer to member applied to one zeroed record, so the
// table names each field once and cannot mistake its offset or size.
const settings& probe() {
  static const auto record = std::make_unique<settings>();
  return *record;
}

template <typename T>
Field F(const char* key, T settings::*member, Form form, When when) {
  const settings& p = probe();
  const auto* base = reinterpret_cast<const char*>(&p);
  const auto* at = reinterpret_cast<const char*>(&(p.*member));
  return Field{key, form, when, static_cast<size_t>(at - base), sizeof(T)};
}

constexpr When A = When::kAlways;
constexpr When S = When::kIfSet;
constexpr When W = When::kWallArt;

std::vector<Field> make_fields() {
  using s = settings;
  using enum Form;
  return {
      F("Setpath", &s::Setpath, kQuoted, A),
      F("Imagepath", &s::Imagepath, kQuoted, A),
      F("Originalpath", &s::Originalpath, kQuoted, S),
      F("JobName", &s::JobName, kFixed, S),
      F("ImageRefId", &s::ImageRefId, kHexLower, S),
      F("Colorpath", &s::Colorpath, kQuoted, A),
      F("ColorpathExt", &s::ColorpathExt, kQuoted, S),
      F("ColorpathExtLabel", &s::ColorpathExtLabel, kQuoted, S),
      F("ColorWaysPath", &s::ColorWaysPath, kQuoted, S),
      F("StitchMarkPath", &s::StitchMarkPath, kQuoted, S),
      F("Printpath", &s::Printpath, kQuoted, A),
      F("UnitMode", &s::UnitMode, kU8, S),
      F("Precision", &s::Precision, kU8, S),
      F("ColorMode", &s::ColorMode, kU8, S),
      F("ToolsMode", &s::ToolsMode, kU8, S),
      F("RulerOrigin", &s::RulerOrigin, kU8Comma, S),
      F("ZoomMode", &s::ZoomMode, kU8, S),
      F("DspMode", &s::DspMode, kU8, S),
      F("PreviewRes", &s::PreviewRes, kU8, S),
      F("ImageDev", &s::ImageDev, kQuoted, A),
      F("PSContinuous", &s::PSContinuous, kU8, S),
      F("ProcessRotation", &s::ProcessRotation, kU8, A),
      F("ColorCorrect", &s::ColorCorrect, kU8, A),
      F("PrintDev", &s::PrintDev, kQuoted, A),
      F("PrintMedia", &s::PrintMedia, kQuoted, A),
      F("MediaId", &s::MediaId, kU32Quoted, S),
      F("MediaSourceId", &s::MediaSourceId, kU32, A),
      F("PrintMediaFlag", &s::PrintMediaFlag, kU8, S),
      F("PrintMode", &s::PrintMode, kFixed, S),
      F("PrintRes", &s::PrintRes, kQuoted, A),
      F("PrintResScaleFlag", &s::PrintResScaleFlag, kU8, S),
      F("PrintCCT", &s::PrintCCT, kU8, S),
      F("PrintScaleDen", &s::PrintScaleDen, kU8, S),
      F("PrintMaxX", &s::PrintMaxX, kReal, A),
      F("PrintMaxY", &s::PrintMaxY, kReal, A),
      F("PrintMarginX", &s::PrintMarginX, kReal, S),
      F("PrintMarginY", &s::PrintMarginY, kReal, S),
      F("CopyGap", &s::CopyGap, kReal, A),
      F("CopyGapY", &s::CopyGapY, kReal, A),
      F("HorizontalCopy", &s::HorizontalCopy, kU8, S),
      F("VerticalCopy", &s::VerticalCopy, kU8, S),
      F("PlaceOverride", &s::PlaceOverride, kU8, S),
      F("Placement", &s::Placement, kU8, S),
      F("PrintCache", &s::PrintCache, kU8, S),
      F("TileFlip", &s::TileFlip, kU8, S),
      F("PrintNesting", &s::PrintNesting, kU8, S),
      F("PrintNestingType", &s::PrintNestingType, kU8, S),
      F("BestFit", &s::BestFit, kU8, S),
      F("TriggerFlags", &s::TriggerFlags, kU8, S),
      F("TriggerArea", &s::TriggerArea, kU8, S),
      F("TriggerTime", &s::TriggerTime, kU32, S),
      F("PrintJustify", &s::PrintJustify, kU8, S),
      F("TopOffset", &s::TopOffset, kReal, S),
      F("LeftOffset", &s::LeftOffset, kReal, S),
      F("RightOffset", &s::RightOffset, kReal, S),
      F("PrintLabelFlag", &s::PrintLabelFlag, kU8, S),
      F("PrintLabel", &s::PrintLabel, kQuoted, A),
      F("PrintLabelSize", &s::PrintLabelSize, kU8Quoted, S),
      F("PrintLabelSpace", &s::PrintLabelSpace, kReal, A),
      F("UserComment", &s::UserComment, kQuoted, A),
      F("RegLines", &s::RegLines, kU8, S),
      F("OverlapDrawThrough", &s::OverlapDrawThrough, kU8, S),
      F("OverlapMask", &s::OverlapMask, kU8, S),
      F("CropOutline", &s::CropOutline, kU8, S),
      F("PrintType", &s::PrintType, kU8, S),
      F("NumColor", &s::NumColor, kU8, S),
      F("NumSpotColor", &s::NumSpotColor, kU8, S),
      F("Inverse", &s::Inverse, kU8, S),
      F("Interpolate", &s::Interpolate, kU8, S),
      F("Reflect", &s::Reflect, kU8, S),
      F("PatternDif", &s::PatternDif, kU8, S),
      F("PatternOpt", &s::PatternOpt, kQuoted, S),
      F("RipAtPrint", &s::RipAtPrint, kU8, S),
      F("Process16Bit", &s::Process16Bit, kU8, S),
      F("Rotation", &s::Rotation, kU8, S),
      F("PrintState", &s::PrintState, kU8, S),
      F("ProcessPrintOptions", &s::ProcessPrintOptions, kU8, S),
      F("GenBlack4", &s::GenBlack4, kU8, S),
      F("GenMask", &s::GenMask, kU8, S),
      F("UseFileMask", &s::UseFileMask, kU8, S),
      F("NumCopies", &s::NumCopies, kU16, S),
      F("NotRippedYet", &s::NotRippedYet, kU8, S),
      F("Template", &s::Template, kHexUpper, S),
      F("TemplateMag", &s::TemplateMag, kReal, S),
      F("TemplateAspect", &s::TemplateAspect, kReal, S),
      F("UserName", &s::UserName, kQuoted, S),
      F("SplitPDFFlag", &s::SplitPDFFlag, kU8, S),
      F("SubmiterId", &s::SubmiterId, kQuoted, S),
      F("RequestDir", &s::RequestDir, kQuoted, S),
      F("HoldFlags", &s::HoldFlags, kU8, S),
      F("CreateDate", &s::CreateDate, kHexUpper, S),
      F("CreateTime", &s::CreateTime, kHexUpper, S),
      F("HoldDate", &s::HoldDate, kHexUpper, S),
      F("HoldTime", &s::HoldTime, kHexUpper, S),
      F("ImageCleanup", &s::ImageCleanup, kU8, S),
      F("UnmodifiableFlag", &s::UnmodifiableFlag, kU8, S),
      F("ArchiveFlag", &s::ArchiveFlag, kU8, S),
      F("LastProofState", &s::LastProofState, kU8, S),
      F("LastServerState", &s::LastServerState, kU8, S),
      F("PreviewErr", &s::PreviewErr, kU8, S),
      F("PreviewFlag", &s::PreviewFlag, kU8, S),
      F("Nesting", &s::Nesting, kU8, S),
      F("CutColors", &s::CutColors, kU8, S),
      F("CutMargins", &s::CutMargins, kFourReals, S),
      F("CutMarkImageWidth", &s::CutMarkImageWidth, kU8, S),
      F("CutMarkSet", &s::CutMarkSet, kFourBytes, S),
      F("Cuts", &s::Cuts, kU8, S),
      F("CutSize", &s::CutSize, kReal, S),
      F("CutTileOutline", &s::CutTileOutline, kU8, S),
      F("CutTileChoke", &s::CutTileChoke, kReal, S),
      F("UseCutPaths", &s::UseCutPaths, kU8, S),
      F("Gutters", &s::Gutters, kU8, S),
      F("GutterSize", &s::GutterSize, kReal, S),
      F("JobType", &s::JobType, kU8, S),
      F("JobExpireDate", &s::JobExpireDate, kHexUpper, S),
      F("Proof", &s::Proof, kU8, S),
      F("InkCounting", &s::InkCounting, kU8, S),
      F("LogJob", &s::LogJob, kU8, S),
      F("JDFName", &s::JDFName, kQuoted, A),
      F("JDFPath", &s::JDFPath, kQuoted, A),
      F("JDFOutputPath", &s::JDFOutputPath, kQuoted, A),
      F("WallArtQueueId", &s::WallArtQueueId, kQuoted, W),
      F("WallArtFinished", &s::WallArtFinished, kU8, W),
      F("WallArtJDFPath", &s::WallArtJDFPath, kQuoted, W),
      F("Cropping", &s::Cropping, kCropping, S),
      F("MetadataJobNum", &s::MetadataJobNum, kFixed, S),
      F("MetadataCompanyName", &s::MetadataCompanyName, kFixed, S),
      F("MetadataCustomerName", &s::MetadataCustomerName, kFixed, S),
      F("MetadataNotes", &s::MetadataNotes, kFixed, S),
      F("MetadataCustom01", &s::MetadataCustom01, kFixed, S),
      F("MetadataCustom02", &s::MetadataCustom02, kFixed, S),
      F("PrintBatch", &s::PrintBatch, kPrintBatch, S),
      F("NestAdditionalColumns", &s::NestAdditionalColumns, kU8, S),
      F("NestAdditionalRows", &s::NestAdditionalRows, kU8, S),
      F("NestTotalCopies", &s::NestTotalCopies, kU8, S),
      F("NestXOffset", &s::NestXOffset, kI32, S),
      F("NestYOffset", &s::NestYOffset, kI32, S),
      F("NestXGap", &s::NestXGap, kReal, S),
      F("NestYGap", &s::NestYGap, kReal, S),
      F("NestBorder", &s::NestBorder, kReal, S),
      F("PrintOptions", &s::PrintOptions, kPrintOptions, S),
  };
}

const std::vector<Field>& fields() {
  static const std::vector<Field> table = make_fields();
  return table;
}

// A view from key names; `key` may be given in another spelling, and `form`
// overrides the field's own form.
struct ViewKey {
  const char* key;
  const Form* form = nullptr;
};

std::vector<ViewField> make_view(std::initializer_list<ViewKey> keys) {
  std::vector<ViewField> view;
  for (const ViewKey& k : keys) {
    const Field* f = find_settings_field(k.key);
    if (f) view.push_back({f, k.key, k.form ? *k.form : f->form});
  }
  return view;
}

constexpr Form kPlainByte = Form::kU8;

// Built-in reading of a kind, or a reader of its own.
off_field read_entry(const Field& f, const char* key) {
  off_field e{key, OFF_CUSTOM, 0, f.offset, f.size, nullptr, nullptr};
  switch (f.form) {
    case Form::kQuoted:
    case Form::kFixed:
      e.kind = OFF_STRING;
      break;
    case Form::kU8:
    case Form::kU8Quoted:
    case Form::kU8Comma:
      e.kind = OFF_UINT8;
      break;
    case Form::kU16:
      e.kind = OFF_UINT16;
      break;
    case Form::kU32:
    case Form::kU32Quoted:
      e.kind = OFF_UINT32;
      break;
    case Form::kI32:
      e.kind = OFF_INT32;
      break;
    case Form::kHexLower:
    case Form::kHexUpper:
      e.kind = OFF_HEX32;
      break;
    case Form::kReal:
      e.read = read_real_field;
      break;
    case Form::kFourReals:
      e.read = [](SFPARSE* fp, const off_field* field, void* record) -> int32_t {
        std::vector<std::string> words;
        if (!read_words(fp, field->key, words, 4, 4)) return 0;
        double v[4];
        for (int i = 0; i < 4; ++i)
          if (!parse_real(words[i], v[i])) return 0;
        std::memcpy(static_cast<char*>(record) + field->offset, v, sizeof v);
        return 1;
      };
      break;
    case Form::kFourBytes:
      e.read = [](SFPARSE* fp, const off_field* field, void* record) -> int32_t {
        std::vector<std::string> words;
        if (!read_words(fp, field->key, words, 4, 4)) return 0;
        uint8_t v[4];
        for (int i = 0; i < 4; ++i) {
          int64_t n = 0;
          if (!parse_int(words[i], n, 0, 255)) return 0;
          v[i] = static_cast<uint8_t>(n);
        }
        std::memcpy(static_cast<char*>(record) + field->offset, v, sizeof v);
        return 1;
      };
      break;
    case Form::kCropping:
      e.read = read_cropping;
      break;
    case Form::kPrintBatch:
      e.read = read_print_batch;
      break;
    case Form::kPrintOptions:
      e.read = read_print_options;
      break;
  }
  return e;
}

std::vector<off_field> sorted(std::vector<off_field> table) {
  std::sort(table.begin(), table.end(),
            [](const off_field& a, const off_field& b) { return strcasecmp(a.key, b.key) < 0; });
  return table;
}

std::vector<off_field> read_table(const std::vector<ViewField>& view) {
  std::vector<off_field> table;
  for (const ViewField& v : view) table.push_back(read_entry(*v.field, v.key));
  return sorted(std::move(table));
}

std::vector<ViewField> all_fields() {
  std::vector<ViewField> view;
  for (const Field& f : fields()) view.push_back({&f, f.key, f.form});
  return view;
}

}  // namespace

std::span<const Field> settings_fields() {
  return fields();
}

const Field* find_settings_field(const char* key) {
  for (const Field& f : fields())
    if (strcasecmp(f.key, key) == 0) return &f;
  return nullptr;
}

const std::vector<ViewField>& default_config_fields() {
  // Display, device, size, copy, cut, trigger, nesting, placement, label,
  // colour and job-type keys. Here RulerOrigin has no trailing comma and
  // PrintLabelSize is written as a plain number.
  static const std::vector<ViewField> view = make_view({
      {"UnitMode"},
      {"Precision"},
      {"ColorMode"},
      {"ToolsMode"},
      {"RulerOrigin", &kPlainByte},
      {"ZoomMode"},
      {"DspMode"},
      {"PreviewRes"},
      {"ImageDev"},
      {"PrintDev"},
      {"PrintMedia"},
      {"MediaId"},
      {"MediaSourceId"},
      {"PrintMode"},
      {"PrintRes"},
      {"PrintMaxX"},
      {"PrintMaxY"},
      {"PrintMarginX"},
      {"PrintMarginY"},
      {"CopyGap"},
      {"CopyGapY"},
      {"HorizontalCopy"},
      {"VerticalCopy"},
      {"CutMargins"},
      {"CutMarkImageWidth"},
      {"CutMarkSet"},
      {"Cuts"},
      {"CutSize"},
      {"CutColors"},
      {"TriggerFlags"},
      {"TriggerArea"},
      {"TriggerTime"},
      {"PrintNesting"},
      {"PrintNestingType"},
      {"Nesting"},
      {"PlaceOverride"},
      {"Placement"},
      {"PrintJustify"},
      {"BestFit"},
      {"TopOffset"},
      {"LeftOffset"},
      {"RightOffset"},
      {"PrintLabelFlag"},
      {"PrintLabel"},
      {"PrintLabelSize", &kPlainByte},
      {"PrintLabelSpace"},
      {"ColorCorrect"},
      {"Colorpath"},
      {"NumColor"},
      {"NumSpotColor"},
      {"JobType"},
  });
  return view;
}

const std::vector<ViewField>& preset_fields() {
  static const std::vector<ViewField> view = make_view({
      {"CutMargins"},        {"CutMarkSet"},    {"PrintDev"},     {"PrintMedia"},
      {"PrintMode"},         {"PrintRes"},      {"Nesting"},      {"PrintCCT"},
      {"PrintScaleDen"},     {"PrintMaxx"},     {"PrintMaxy"},    {"PrintMarginx"},
      {"PrintMarginy"},      {"CopyGap"},       {"CopyGapY"},     {"HorizontalCopy"},
      {"VerticalCopy"},      {"PlaceOverride"}, {"PrintNesting"}, {"Placement"},
      {"PrintNestingType"},  {"PrintJustify"},  {"BestFit"},      {"TopOffset"},
      {"LeftOffset"},        {"RightOffset"},   {"TriggerFlags"}, {"TriggerTime"},
      {"TriggerArea"},       {"Cuts"},          {"CutSize"},      {"CutColors"},
      {"CutMarkImageWidth"}, {"Reflect"},       {"RipAtPrint"},   {"Process16Bit"},
      {"Interpolate"},       {"NumColor"},      {"NumSpotColor"}, {"MediaId"},
      {"MediaSourceId"},     {"UseCutPaths"},   {"Gutters"},      {"GutterSize"},
      {"TileFlip"},          {"PrintCache"},
  });
  return view;
}

const std::vector<off_field>& settings_read_table() {
  static const std::vector<off_field> table = read_table(all_fields());
  return table;
}

const std::vector<off_field>& default_config_read_table() {
  static const std::vector<off_field> table = read_table(default_config_fields());
  return table;
}

const std::vector<off_field>& preset_read_table() {
  static const std::vector<off_field> table = read_table(preset_fields());
  return table;
}

}  // namespace klv::job
