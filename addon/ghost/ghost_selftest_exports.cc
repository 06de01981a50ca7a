// The ghost cursor's self-test functions: the palette, motion and geometry
// results computed with the default parameters, as plain objects, without
// touching the overlay.
#include "conventions.h"
#include "exports.h"
#include "ghost/selftest.h"

namespace addon {

namespace {

Napi::Object Rgb(Napi::Env env, ghost_motion::Rgba8 c) {
  Napi::Object o = Napi::Object::New(env);
  SetKey(o, "r", Napi::Number::New(env, c.r));
  SetKey(o, "g", Napi::Number::New(env, c.g));
  SetKey(o, "b", Napi::Number::New(env, c.b));
  return o;
}

Napi::Value Num(Napi::Env env, double v) { return Napi::Number::New(env, v); }

void Glide(Napi::Env env, Napi::Object o, const std::string& prefix,
           const ghost_selftest::GlideReport& r) {
  SetKey(o, (prefix + "Natural").c_str(), Num(env, r.natural));
  SetKey(o, (prefix + "Scale").c_str(), Num(env, r.scale));
  SetKey(o, (prefix + "Elapsed").c_str(), Num(env, r.elapsed));
  SetKey(o, (prefix + "Settle").c_str(), Num(env, r.settle));
  SetKey(o, (prefix + "SettledX").c_str(), Num(env, r.settledX));
}

}  // namespace

Napi::Value GhostPaletteSelftest(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  ghost_selftest::PaletteSelftest r = ghost_selftest::RunPaletteSelftest();
  Napi::Object o = Napi::Object::New(env);
  Napi::Array palette = Napi::Array::New(env, r.palette.size());
  for (size_t i = 0; i < r.palette.size(); ++i) palette.Set(static_cast<uint32_t>(i), Rgb(env, r.palette[i]));
  SetKey(o, "palette", palette);
  Napi::Object samples = Napi::Object::New(env);
  for (const auto& s : r.samples) SetKey(samples, s.key, Rgb(env, s.color));
  SetKey(o, "samples", samples);
  Napi::Object strokes = Napi::Object::New(env);
  for (const auto& s : r.strokes) SetKey(strokes, s.key, Rgb(env, s.color));
  SetKey(o, "strokes", strokes);
  Napi::Object indices = Napi::Object::New(env);
  for (const auto& s : r.indices) SetKey(indices, s.key, Num(env, s.index));
  SetKey(o, "indices", indices);
  Napi::Object sanitize = Napi::Object::New(env);
  for (const auto& s : r.sanitize) SetKey(sanitize, s.key, Napi::String::New(env, s.text));
  SetKey(o, "sanitize", sanitize);
  return o;
}

Napi::Value GhostMotionSelftest(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  ghost_selftest::MotionSelftest r = ghost_selftest::RunMotionSelftest();
  Napi::Object o = Napi::Object::New(env);
  Napi::Array samples = Napi::Array::New(env, r.samples.size());
  for (size_t i = 0; i < r.samples.size(); ++i) {
    Napi::Object s = Napi::Object::New(env);
    SetKey(s, "t", Num(env, r.samples[i].t));
    SetKey(s, "x", Num(env, r.samples[i].x));
    SetKey(s, "y", Num(env, r.samples[i].y));
    SetKey(s, "heading", Num(env, r.samples[i].heading));
    samples.Set(static_cast<uint32_t>(i), s);
  }
  SetKey(o, "samples", samples);
  SetKey(o, "arrived", Napi::Boolean::New(env, r.arrived));
  SetKey(o, "finalX", Num(env, r.finalX));
  SetKey(o, "finalY", Num(env, r.finalY));
  SetKey(o, "arrivalTick", Num(env, r.arrivalTick));
  SetKey(o, "settledX", Num(env, r.settledX));
  SetKey(o, "settledY", Num(env, r.settledY));
  SetKey(o, "settled", Napi::Boolean::New(env, r.settled));
  SetKey(o, "settleArrivalTick", Num(env, r.settleArrivalTick));
  SetKey(o, "settleTicks", Num(env, r.settleTicks));
  SetKey(o, "preemptMidX", Num(env, r.preemptMidX));
  SetKey(o, "preemptRestartX", Num(env, r.preemptRestartX));
  SetKey(o, "fineDt", Num(env, r.fineDt));
  Glide(env, o, "glideShort", r.glideShort);
  Glide(env, o, "glideLong", r.glideLong);
  SetKey(o, "maxGlide", Num(env, r.maxGlide));
  return o;
}

Napi::Value GhostGeometrySelftest(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  ghost_selftest::GeometrySelftest r = ghost_selftest::RunGeometrySelftest();
  Napi::Object o = Napi::Object::New(env);
  SetKey(o, "primary", Num(env, r.primary));
  SetKey(o, "leftScreen", Num(env, r.leftScreen));
  SetKey(o, "aboveScreen", Num(env, r.aboveScreen));
  SetKey(o, "seam", Num(env, r.seam));
  SetKey(o, "nearest", Num(env, r.nearest));
  SetKey(o, "mirrorIgnored", Num(env, r.mirrorIgnored));
  SetKey(o, "seedX", Num(env, r.seedX));
  SetKey(o, "seedY", Num(env, r.seedY));
  SetKey(o, "seedCornerX", Num(env, r.seedCornerX));
  SetKey(o, "seedCornerY", Num(env, r.seedCornerY));
  SetKey(o, "seedLeftX", Num(env, r.seedLeftX));
  SetKey(o, "seedLeftY", Num(env, r.seedLeftY));
  SetKey(o, "seedNoneX", Num(env, r.seedNoneX));
  SetKey(o, "seedNoneY", Num(env, r.seedNoneY));
  return o;
}

}  // namespace addon
