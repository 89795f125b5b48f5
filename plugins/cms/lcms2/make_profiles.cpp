// SPDX-License-Identifier: MIT
// Writes the default profiles shipped under data/profiles:
//   klv_srgb.icc  LittleCMS's built-in sRGB, saved;
//   klv_gray.icc  gray, gamma 2.2, D50;
//   klv_cmyk.icc  a CMYK output profile (ICC v4, L*a*b* PCS) computed from a
//                 simple ink model, described in data/profiles/README.
// Usage: klvcms_make_profiles FOLDER
#include <lcms2.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

namespace {

// The ink model: each of cyan, magenta and yellow absorbs up to kInk of the
// linear-light red, green or blue the paper (sRGB white) reflects, black up
// to kBlack of all three; absorptions multiply.
constexpr double kInk = 0.93;
constexpr double kBlack = 0.95;

double srgb_encode(double v) {
  v = std::clamp(v, 0.0, 1.0);
  return v <= 0.0031308 ? 12.92 * v : 1.055 * std::pow(v, 1.0 / 2.4) - 0.055;
}

double srgb_decode(double v) {
  v = std::clamp(v, 0.0, 1.0);
  return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
}

struct Transforms {
  cmsHTRANSFORM rgb_to_lab;
  cmsHTRANSFORM lab_to_rgb;
};

// CMYK (0..65535) to L*a*b* (v4 encoding).
cmsInt32Number forward(const cmsUInt16Number in[], cmsUInt16Number out[], void* cargo) {
  auto* t = static_cast<Transforms*>(cargo);
  const double k = in[3] / 65535.0;
  double rgb[3];
  for (int i = 0; i < 3; ++i) rgb[i] = srgb_encode((1 - kInk * in[i] / 65535.0) * (1 - kBlack * k));
  cmsCIELab lab;
  cmsDoTransform(t->rgb_to_lab, rgb, &lab, 1);
  cmsFloat2LabEncoded(out, &lab);
  return TRUE;
}

// L*a*b* (v4 encoding) to CMYK: the colour clipped to what the inks reach,
// black replacing up to 70 % of the gray component of colours darker than
// 40 % black.
cmsInt32Number inverse(const cmsUInt16Number in[], cmsUInt16Number out[], void* cargo) {
  auto* t = static_cast<Transforms*>(cargo);
  cmsCIELab lab;
  cmsLabEncoded2Float(&lab, in);
  double rgb[3];
  cmsDoTransform(t->lab_to_rgb, &lab, rgb, 1);
  const double floor = (1 - kInk) * (1 - kBlack);
  double lin[3];
  for (int i = 0; i < 3; ++i) lin[i] = std::max(srgb_decode(rgb[i]), floor);
  const double lightest = std::max({lin[0], lin[1], lin[2]});
  const double k_max = std::clamp((1 - lightest) / kBlack, 0.0, 1.0);
  const double share = 0.7 * std::clamp((k_max - 0.4) / 0.6, 0.0, 1.0);
  const double k = k_max * share;
  for (int i = 0; i < 3; ++i) {
    const double c = (1 - lin[i] / (1 - kBlack * k)) / kInk;
    out[i] = static_cast<cmsUInt16Number>(std::lround(std::clamp(c, 0.0, 1.0) * 65535));
  }
  out[3] = static_cast<cmsUInt16Number>(std::lround(k * 65535));
  return TRUE;
}

bool write_cmyk(const std::string& path) {
  cmsHPROFILE srgb = cmsCreate_sRGBProfile();
  cmsHPROFILE lab = cmsCreateLab4Profile(nullptr);
  Transforms t{
      cmsCreateTransform(srgb, TYPE_RGB_DBL, lab, TYPE_Lab_DBL, INTENT_RELATIVE_COLORIMETRIC,
                         cmsFLAGS_NOOPTIMIZE | cmsFLAGS_NOCACHE),
      cmsCreateTransform(lab, TYPE_Lab_DBL, srgb, TYPE_RGB_DBL, INTENT_RELATIVE_COLORIMETRIC,
                         cmsFLAGS_NOOPTIMIZE | cmsFLAGS_NOCACHE)};
  cmsHPROFILE p = cmsCreateProfilePlaceholder(nullptr);
  cmsSetProfileVersion(p, 4.3);
  cmsSetDeviceClass(p, cmsSigOutputClass);
  cmsSetColorSpace(p, cmsSigCmykData);
  cmsSetPCS(p, cmsSigLabData);
  cmsSetHeaderRenderingIntent(p, INTENT_PERCEPTUAL);

  cmsPipeline* a2b = cmsPipelineAlloc(nullptr, 4, 3);
  cmsStage* a2b_clut = cmsStageAllocCLut16bit(nullptr, 13, 4, 3, nullptr);
  cmsStageSampleCLut16bit(a2b_clut, forward, &t, 0);
  // The v4 table types want curves around the grid: identity ones here.
  cmsPipelineInsertStage(a2b, cmsAT_END, cmsStageAllocToneCurves(nullptr, 4, nullptr));
  cmsPipelineInsertStage(a2b, cmsAT_END, a2b_clut);
  cmsPipelineInsertStage(a2b, cmsAT_END, cmsStageAllocToneCurves(nullptr, 3, nullptr));
  cmsPipeline* b2a = cmsPipelineAlloc(nullptr, 3, 4);
  cmsStage* b2a_clut = cmsStageAllocCLut16bit(nullptr, 25, 3, 4, nullptr);
  cmsStageSampleCLut16bit(b2a_clut, inverse, &t, 0);
  cmsPipelineInsertStage(b2a, cmsAT_END, cmsStageAllocToneCurves(nullptr, 3, nullptr));
  cmsPipelineInsertStage(b2a, cmsAT_END, b2a_clut);
  cmsPipelineInsertStage(b2a, cmsAT_END, cmsStageAllocToneCurves(nullptr, 4, nullptr));

  cmsMLU* desc = cmsMLUalloc(nullptr, 1);
  cmsMLUsetASCII(desc, "en", "US", "KLV CMYK (simple ink model)");
  cmsMLU* cprt = cmsMLUalloc(nullptr, 1);
  cmsMLUsetASCII(cprt, "en", "US", "No copyright, use freely (CC0)");
  const bool ok = cmsWriteTag(p, cmsSigProfileDescriptionTag, desc) &&
                  cmsWriteTag(p, cmsSigCopyrightTag, cprt) &&
                  cmsWriteTag(p, cmsSigMediaWhitePointTag, cmsD50_XYZ()) &&
                  cmsWriteTag(p, cmsSigAToB0Tag, a2b) && cmsWriteTag(p, cmsSigBToA0Tag, b2a) &&
                  cmsLinkTag(p, cmsSigAToB1Tag, cmsSigAToB0Tag) &&
                  cmsLinkTag(p, cmsSigAToB2Tag, cmsSigAToB0Tag) &&
                  cmsLinkTag(p, cmsSigBToA1Tag, cmsSigBToA0Tag) &&
                  cmsLinkTag(p, cmsSigBToA2Tag, cmsSigBToA0Tag) &&
                  cmsSaveProfileToFile(p, path.c_str());
  cmsMLUfree(desc);
  cmsMLUfree(cprt);
  cmsPipelineFree(a2b);
  cmsPipelineFree(b2a);
  cmsCloseProfile(p);
  cmsDeleteTransform(t.rgb_to_lab);
  cmsDeleteTransform(t.lab_to_rgb);
  cmsCloseProfile(srgb);
  cmsCloseProfile(lab);
  return ok;
}

bool write_gray(const std::string& path) {
  cmsToneCurve* gamma = cmsBuildGamma(nullptr, 2.2);
  cmsHPROFILE p = cmsCreateGrayProfile(cmsD50_xyY(), gamma);
  cmsMLU* desc = cmsMLUalloc(nullptr, 1);
  cmsMLUsetASCII(desc, "en", "US", "KLV Gray (gamma 2.2, D50)");
  const bool ok =
      cmsWriteTag(p, cmsSigProfileDescriptionTag, desc) && cmsSaveProfileToFile(p, path.c_str());
  cmsMLUfree(desc);
  cmsCloseProfile(p);
  cmsFreeToneCurve(gamma);
  return ok;
}

bool write_srgb(const std::string& path) {
  cmsHPROFILE p = cmsCreate_sRGBProfile();
  const bool ok = cmsSaveProfileToFile(p, path.c_str());
  cmsCloseProfile(p);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: klvcms_make_profiles FOLDER\n");
    return 2;
  }
  const std::string folder = argv[1];
  const bool ok = write_srgb(folder + "/klv_srgb.icc") && write_gray(folder + "/klv_gray.icc") &&
                  write_cmyk(folder + "/klv_cmyk.icc");
  if (!ok) std::fprintf(stderr, "klvcms_make_profiles: writing the profiles failed\n");
  return ok ? 0 : 1;
}
