// Encoded images as host values: {format, data} when the encoder succeeded,
// null otherwise. Conversion runs on the host thread only.
#pragma once

#include <napi.h>

#include <string>

#include "image/encode.h"

namespace addon {

// Base64 text as a JavaScript string. The rvalue form hands large texts to
// the engine without copying them when the host can take them over.
Napi::Value Base64ToNapi(Napi::Env env, std::string_view text);
Napi::Value Base64ToNapi(Napi::Env env, Base64Text&& text);

Napi::Value EncodedImageToNapi(Napi::Env env, const EncodedImageData& record);
Napi::Value EncodedImageToNapi(Napi::Env env, EncodedImageData&& record);
// Encodes `image` (EncodeImageData) and converts the record.
Napi::Value EncodeImage(Napi::Env env, const platform::Image& image, const std::string& format,
                        double quality);

}  // namespace addon
