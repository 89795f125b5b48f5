// SPDX-License-Identifier: MIT
// Ink volume from dot counts and drop volumes, media area from the printed
// size, and one job's consumption added to an account.
#include <cmath>
#include <cstdlib>
#include <new>
#include <vector>

#include "klv/kernel_util.h"
#include "klv/log.h"
#include "klv/usage_cxx.h"

namespace {

constexpr double kMetresPerInch = 0.0254;

// Millilitres per unit of the drop table's volumes; 0 for an unknown unit.
double unit_to_ml(const char* units) {
  struct Unit {
    const char* name;
    double ml;
  };
  static const Unit kUnits[] = {{"", 1e-9},   {"pl", 1e-9},        {"nl", 1e-6},
                                {"ul", 1e-3}, {"\xC2\xB5l", 1e-3}, {"ml", 1.0}};
  for (const Unit& u : kUnits)
    if (Ostricmp(units ? units : "", u.name) == 0) return u.ml;
  return 0.0;
}

const char* element_string(const SSTRAL* data, int32_t index, int32_t column) {
  int32_t count = 0;
  const char* const* e = stral_get(data, index, &count);
  return e && count > column && e[column] ? e[column] : nullptr;
}

}  // namespace

extern "C" {

KLV_API int32_t usage_drop_volumes(const dotinfo* info, const char* resolution, const char* config,
                                   double* millilitres, int32_t sizes) {
  if (!info || !resolution || !config) return 0;
  const dotcfg* cfg = dotinfo_find_dotcfg(info, resolution, config);
  if (!cfg || !cfg->Data) {
    KLV_LOG(KLV_LOG_ERROR, "no drop sizes for resolution \"%s\", configuration \"%s\"", resolution,
            config);
    return 0;
  }
  const double scale = unit_to_ml(info->Units);
  if (scale == 0.0) {
    KLV_LOG(KLV_LOG_ERROR, "drop volume unit \"%s\" is not known (pl, nl, ul, ml)", info->Units);
    return 0;
  }
  const int32_t count = stral_count(cfg->Data);
  for (int32_t k = 0; k < count; ++k) {
    const char* text = element_string(cfg->Data, k, 3);
    const char* end = text;
    const double volume = text ? OatofEx(text, &end) : 0.0;
    if (!text || end == text || *end || !std::isfinite(volume) || volume < 0) {
      KLV_LOG(KLV_LOG_ERROR, "drop %d of \"%s\" / \"%s\" has no usable volume (\"%s\")", k + 1,
              resolution, config, text ? text : "");
      return 0;
    }
    if (millilitres && k < sizes) millilitres[k] = volume * scale;
  }
  return count;
}

KLV_API int32_t usage_ink_millilitres(const double* drop_ml, int32_t drop_sizes,
                                      const uint64_t* dots, int32_t inks, double* millilitres) {
  if (!drop_ml || !dots || !millilitres || drop_sizes < 1 || inks < 1 || inks > KLV_USAGE_MAX_INKS)
    return 0;
  for (int32_t i = 0; i < inks; ++i) {
    double ml = 0.0;
    for (int32_t d = 0; d < drop_sizes; ++d)
      ml += double(dots[size_t(i) * size_t(drop_sizes) + size_t(d)]) * drop_ml[d];
    millilitres[i] = ml;
  }
  return 1;
}

KLV_API double usage_square_metres(double width_inches, double height_inches) {
  if (!(width_inches > 0) || !(height_inches > 0) || !std::isfinite(width_inches) ||
      !std::isfinite(height_inches))
    return 0.0;
  return width_inches * kMetresPerInch * height_inches * kMetresPerInch;
}

}  // extern "C"

namespace {

bool job_is_valid(const usage_job* job) {
  return job && job->inks >= 1 && job->inks <= KLV_USAGE_MAX_INKS && job->drop_sizes >= 1 &&
         job->drop_sizes <= 255 && job->ink_names && job->dots;
}

// The job's millilitres per ink; false when the drop table does not give a
// volume for each of its drop sizes.
bool job_volumes(const usage_job* job, const dotinfo* info, const char* resolution,
                 const char* config, std::vector<double>* ml) {
  ml->assign(size_t(job->inks), 0.0);
  if (!info) return true;
  std::vector<double> drop(size_t(job->drop_sizes), 0.0);
  const int32_t sizes = usage_drop_volumes(info, resolution, config, drop.data(), job->drop_sizes);
  if (sizes < job->drop_sizes) {
    if (sizes > 0)
      KLV_LOG(KLV_LOG_ERROR, "the drop table of \"%s\" / \"%s\" has %d drop sizes, the job %d",
              resolution, config, sizes, job->drop_sizes);
    return false;
  }
  return usage_ink_millilitres(drop.data(), job->drop_sizes, job->dots, job->inks, ml->data()) != 0;
}

}  // namespace

extern "C" KLV_API int32_t printusage_use_job(CPrintUsage* usage, const usage_job* job,
                                              const dotinfo* info, const char* resolution,
                                              const char* config) {
  if (!usage || !job_is_valid(job)) return 0;
  try {
    for (int32_t i = 0; i < job->inks; ++i)
      if (!job->ink_names[i] || !*job->ink_names[i]) {
        KLV_LOG(KLV_LOG_ERROR, "ink %d of the job has no name; usage not added", i + 1);
        return 0;
      }
    std::vector<double> ml;
    if (!job_volumes(job, info, resolution, config, &ml)) return 0;
    std::vector<usage_ink_count> table(size_t(job->inks) + 1, usage_ink_count{});
    for (int32_t i = 0; i < job->inks; ++i) {
      uint64_t dots = 0;
      for (int32_t d = 0; d < job->drop_sizes; ++d)
        dots += job->dots[size_t(i) * size_t(job->drop_sizes) + size_t(d)];
      table[size_t(i)] = {job->ink_names[i], dots, ml[size_t(i)]};
    }
    const usage_dot_table counts{1, table.data()};
    usage->UseInk(job->ink_set, job->ink_set_number, &counts);
    if (job->media && *job->media)
      usage->UseMedia(job->media, usage_square_metres(job->width_inches, job->height_inches));
    return 1;
  } catch (const std::bad_alloc&) {
    return 0;
  }
}
