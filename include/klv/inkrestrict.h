// SPDX-License-Identifier: MIT
// Ink restriction files: for every input channel of an image, how much of each
// printer separation a channel value may drive, as curves of points in
// percent. The file is XML:
//
//   <InkRestrict samples="4" spotsamples="0" hifi="0" photo="0">
//     <Channels>
//       <Channel index="0">
//         <Separation name="Cyan" spline="true" index="0">
//           <Point x="0.000000" y="0.000000"/> ...
//
// A channel can be linked into a multi-level process record: the record holds
// a 32-bit handle made by registerChannelLink, which engines turn back into the
// channel with findChannelLink.
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "klv/export.h"
#include "klv/kernel_types.h"

namespace kelv::inkrestrict {

// One curve: the separation it feeds and its points (x to y, in percent).
class KLV_API SepCurve {
 public:
  SepCurve() = default;
  explicit SepCurve(std::string name) : name_(std::move(name)) {}
  // Appends the curve's element (its position in the channel is `index`).
  virtual void write(std::string& out, int index) const;
  // The attribute text of the element: " name=\"...\"".
  virtual std::string getAttrs() const;
  virtual ~SepCurve() = default;

  const std::string& getName() const { return name_; }
  void setName(std::string name) { name_ = std::move(name); }
  bool getSplineMode() const { return spline_; }
  void setSplineMode(bool on) { spline_ = on; }
  // Adds a point, replacing the y of an existing point at the same x.
  void addPoint(float x, float y);
  const std::map<float, float>& getPoints() const { return points_; }
  // Linear: x without points; else clamped at the ends and linear between.
  // Spline: a natural cubic spline, clamped to 0..100; 0 with fewer than two points.
  float getValue(float x) const;
  bool remove_nth(size_t n);
  void copy(const SepCurve& other);
  void reset();

 private:
  bool buildDerivatives() const;

  std::string name_;
  bool spline_ = false;
  std::map<float, float> points_;
  mutable std::vector<double> deriv_;  // built on the first spline evaluation
  mutable size_t deriv_count_ = 0;
};

// One input channel and its curves in file order.
class KLV_API ChannelSeps {
 public:
  explicit ChannelSeps(uint8_t index = 0) : index_(index) {}
  uint8_t getIndex() const { return index_; }
  int getCount() const { return int(seps_.size()); }
  // Null for a negative index or one past the end.
  std::shared_ptr<SepCurve> getSep(int i) const;
  void addSep(std::shared_ptr<SepCurve> curve) { seps_.push_back(std::move(curve)); }
  const std::vector<std::shared_ptr<SepCurve>>& getSeps() const { return seps_; }

 private:
  uint8_t index_;
  std::vector<std::shared_ptr<SepCurve>> seps_;
};

// The inks of a set-up: its hifi mode, photometric and separation names.
struct InkConfiguration {
  int32_t hifi_mode = 0;
  int32_t photometric = 0;
  std::vector<std::string> names;  // each cut to 10 characters
};

class KLV_API InkRestrictFile {
 public:
  // One empty channel per sample.
  InkRestrictFile(int32_t samples, int32_t spot_samples, int32_t hifi, int32_t photometric);
  // One channel per sample, each with one empty curve per ink of the configuration.
  InkRestrictFile(int32_t samples, int32_t spot_samples, const InkConfiguration& inks);

  // Reads a file (host file when volume is null). Null (logged) when it cannot
  // be opened or parsed, or its root element is not InkRestrict.
  static std::shared_ptr<InkRestrictFile> ReadFile(SOVolume* volume, const char* path);
  // Writes the file; a host file is written beside the target and renamed over it.
  bool writeFile(SOVolume* volume, const char* path) const;
  // Writes the same text to a C stream.
  void dump(FILE* stream) const;
  std::string toText() const;

  std::shared_ptr<ChannelSeps> getChannelSeps(int i) const;
  int getChannelCount() const { return int(channels_.size()); }
  void addChannel(std::shared_ptr<ChannelSeps> ch) { channels_.push_back(std::move(ch)); }
  // The first curve of that name in channel order, letter case ignored; null when none.
  std::shared_ptr<SepCurve> getSepCurve(const std::string& name) const;
  int32_t getSamples() const { return samples_; }
  int32_t getSpotSamples() const { return spot_samples_; }
  int32_t getHifiMode() const { return hifi_; }
  int32_t getPhotometric() const { return photometric_; }
  SOVolume* getVolume() const { return volume_; }
  const std::string& getFilename() const { return filename_; }

 private:
  InkRestrictFile() = default;

  int32_t samples_ = 0, spot_samples_ = 0, hifi_ = 0, photometric_ = 0;
  SOVolume* volume_ = nullptr;
  std::string filename_;
  std::vector<std::shared_ptr<ChannelSeps>> channels_;
};

// Handles that carry a channel through a process record's 32-bit link field.
// 0 is never a handle. The table holds a reference until the handle is released.
KLV_API uint32_t registerChannelLink(std::shared_ptr<ChannelSeps> channel);
KLV_API std::shared_ptr<ChannelSeps> findChannelLink(uint32_t handle);
KLV_API void releaseChannelLink(uint32_t handle);

}  // namespace kelv::inkrestrict
