// SPDX-License-Identifier: MIT
// Number helpers of the ICC classes: s15.16 numbers, the 8-bit and 16-bit
// L*a*b* encodings, XYZ to L*a*b* (CIE 1976, D50) and the date stamp.
#include <algorithm>
#include <cmath>
#include <ctime>

#include "klv/icc_cxx.h"

namespace {

constexpr double kD50[3] = {0.9642, 1.0, 0.8249};

double lab_f(double t) {
  return t > 0.008856 ? std::cbrt(t) : 7.787 * t + 16.0 / 116.0;
}

double lab_f_inverse(double f) {
  const double cube = f * f * f;
  return cube > 0.008856 ? cube : (f - 16.0 / 116.0) / 7.787;
}

template <typename T>
T limited(double v, double high) {
  return static_cast<T>(std::clamp(v, 0.0, high));
}

}  // namespace

icS15Fixed16Number icDtoF(double d) {
  d = std::clamp(d, -32768.0, 32767.9999847);
  // Rounded to the nearest step (floor, so negative numbers round like positive ones).
  return static_cast<icS15Fixed16Number>(std::floor(d * 65536.0 + 0.5));
}

double icFtoD(icS15Fixed16Number f) {
  return f / 65536.0;
}

uint8_t icABtoByte(double ab) {
  return limited<uint8_t>(ab + 128.0 + 0.5, 255.0);
}

uint16_t icABtoWord(double ab) {
  return limited<uint16_t>((ab + 128.0) * 256.0 + 0.5, 65535.0);
}

double icByteToAB(uint8_t b) {
  return b - 128.0;
}

double icWordToAB(uint16_t w) {
  return w / 256.0 - 128.0;
}

void icGetLab(const uint8_t* bytes, double* lab) {
  lab[0] = bytes[0] / 2.55;
  lab[1] = bytes[1] - 128.0;
  lab[2] = bytes[2] - 128.0;
}

void icGetLab(const uint16_t* words, double* lab) {
  lab[0] = words[0] / 652.8;
  lab[1] = words[1] / 256.0 - 128.0;
  lab[2] = words[2] / 256.0 - 128.0;
}

void icPutLab(double L, double a, double b, uint8_t* bytes) {
  bytes[0] = limited<uint8_t>(L * 2.55 + 0.5, 255.0);
  bytes[1] = icABtoByte(a);
  bytes[2] = icABtoByte(b);
}

void icPutLab(double L, double a, double b, uint16_t* words) {
  words[0] = limited<uint16_t>(L * 652.8 + 0.5, 65535.0);
  words[1] = icABtoWord(a);
  words[2] = icABtoWord(b);
}

void icGetLab(const icXYZNumber& xyz, double* lab) {
  const double fx = lab_f(icFtoD(xyz.X) / kD50[0]);
  const double fy = lab_f(icFtoD(xyz.Y) / kD50[1]);
  const double fz = lab_f(icFtoD(xyz.Z) / kD50[2]);
  lab[0] = 116.0 * fy - 16.0;
  lab[1] = 500.0 * (fx - fy);
  lab[2] = 200.0 * (fy - fz);
}

void icPutLab(double L, double a, double b, icXYZNumber& xyz) {
  const double fy = (L + 16.0) / 116.0;
  xyz.X = icDtoF(lab_f_inverse(fy + a / 500.0) * kD50[0]);
  xyz.Y = icDtoF(lab_f_inverse(fy) * kD50[1]);
  xyz.Z = icDtoF(lab_f_inverse(fy - b / 200.0) * kD50[2]);
}

void icSetDateTime(icDateTimeNumber& date_time) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  date_time.year = static_cast<uint16_t>(local.tm_year + 1900);
  date_time.month = static_cast<uint16_t>(local.tm_mon + 1);
  date_time.day = static_cast<uint16_t>(local.tm_mday);
  date_time.hours = static_cast<uint16_t>(local.tm_hour);
  date_time.minutes = static_cast<uint16_t>(local.tm_min);
  date_time.seconds = static_cast<uint16_t>(local.tm_sec);
}
