// SPDX-License-Identifier: MIT
// `kstroke outline`: writes the outline of a brush tip as a PNG with transparency, as a
// host would draw it for a brush cursor or preview.
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/commands.h"
#include "document/output_file.h"
#include "app/signals.h"
#include "host/inkwork/inkwork_cairo.h"
#include "kstroke/tip_outline.h"

namespace {

struct OutlineOptions {
  double diameter = 100;
  double hardness = 1;
  double roundness = 1;
  double angle = 0;
  double zoom = 1;
  int style = 1;  // green: shows on white and on transparent alike
  bool showHardness = false;
  std::vector<double> scale{1.0};
  std::string output;
};

// Limits keep the image within the program's 30000-pixel canvas limit: the engine caps
// zoom × diameter at 1000, and the horizontal scale widens the image up to 16 times.
constexpr double kMaxDiameter = 2500;
constexpr double kMaxZoom = 100;
constexpr double kMaxScale = 16;

// One line naming the option and the value; answers false.
bool Reject(const char* option, double value, const char* why) {
  std::fprintf(stderr, "kstroke outline: %s %g %s\n", option, value, why);
  return false;
}

bool Validate(const OutlineOptions& o) {
  if (!std::isfinite(o.diameter) || o.diameter < 1 || o.diameter > kMaxDiameter) {
    return Reject("--diameter", o.diameter, "is outside 1..2500");
  }
  if (!std::isfinite(o.hardness) || o.hardness < 0 || o.hardness > 1) {
    return Reject("--hardness", o.hardness, "is outside 0..1");
  }
  if (!std::isfinite(o.roundness) || o.roundness < 0 || o.roundness > 1) {
    return Reject("--roundness", o.roundness, "is outside 0..1");
  }
  if (!std::isfinite(o.angle)) return Reject("--angle", o.angle, "is not a finite angle");
  if (!std::isfinite(o.zoom) || o.zoom <= 0 || o.zoom > kMaxZoom) {
    return Reject("--zoom", o.zoom, "is outside (0, 100]");
  }
  if (o.style < 0 || o.style > 4) return Reject("--style", o.style, "is outside 0..4");
  for (double s : o.scale) {
    if (!std::isfinite(s) || s <= 0 || s > kMaxScale) {
      return Reject("--scale", s, "is outside (0, 16]");
    }
  }
  return true;
}

int RunOutline(const OutlineOptions& o) {
  if (!Validate(o)) return kExitFailure;

  paint_brushtip::BrushTipRec rec;
  rec.zoom = o.zoom;
  rec.diameter = o.diameter;
  // The outline takes percentages; descriptions and this command take fractions.
  rec.hardness = o.hardness * 100;
  rec.roundness = o.roundness * 100;
  rec.angle = o.angle;
  rec.style = o.style;
  rec.showHardness = o.showHardness;
  rec.scale.x = static_cast<float>(o.scale[0]);
  rec.scale.y = static_cast<float>(o.scale.size() > 1 ? o.scale[1] : o.scale[0]);

  kelvo::inkwork::CairoSupplier supplier;
  kelvo::inkwork::ImageP image = paint_brushtip::CreateTipOutlineImage(&supplier, rec);
  try {
    AtomicOutput out(o.output);
    image->WritePng(out.Stream(), o.output);
    ThrowIfCancelled();
    out.Commit();
  } catch (const OutputError& e) {
    std::fprintf(stderr, "kstroke outline: %s\n", e.what());
    return kExitFailure;
  } catch (const kelvo::inkwork::Error&) {
    std::fprintf(stderr, "kstroke outline: %s: cannot write the output file\n", o.output.c_str());
    return kExitFailure;
  } catch (long) {
    std::fprintf(stderr, "kstroke outline: cancelled; %s not written\n", o.output.c_str());
    return CancelledStatus();
  }
  std::printf("%s: %d x %d\n", o.output.c_str(), image->GetWidth(), image->GetHeight());
  return kExitOk;
}

const KstrokeCommand kOutlineCommand(
    "outline", "write the outline of a brush tip as a PNG", [](CLI::App& sub) {
      auto o = std::make_shared<OutlineOptions>();
      sub.add_option("--diameter", o->diameter, "brush diameter in brush pixels, 1..2500")
          ->capture_default_str();
      sub.add_option("--hardness", o->hardness, "hardness, 0..1 (as in stroke descriptions)")
          ->capture_default_str();
      sub.add_option("--roundness", o->roundness, "roundness, 0..1 (as in stroke descriptions)")
          ->capture_default_str();
      sub.add_option("--angle", o->angle, "brush angle in degrees")->capture_default_str();
      sub.add_option("--zoom", o->zoom, "screen pixels per brush pixel, (0, 100]")
          ->capture_default_str();
      sub.add_option("--style", o->style,
                     "0 white; 1 green with a plus; 2 red with a dash; 3, 4 as 1, 2 with a "
                     "diagonal")
          ->capture_default_str();
      sub.add_flag("--show-hardness", o->showHardness,
                   "outline the full diameter and add a circle for the hard core");
      sub.add_option("--scale", o->scale, "extra scale X[,Y] of the outline, (0, 16]")
          ->expected(1, 2)
          ->delimiter(',');
      sub.add_option("-o,--output", o->output, "the PNG to write")->required();
      return [o] { return RunOutline(*o); };
    });

}  // namespace
