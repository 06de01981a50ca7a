// Affine arithmetic of the surfaces service and the service answered by
// backends without on-screen surfaces.
#include "platform/surfaces.h"

#include <cmath>

namespace platform {

Affine Affine::Rotation(double radians) {
  double c = std::cos(radians), s = std::sin(radians);
  return Affine{c, s, -s, c, 0, 0};
}

Affine Affine::Scale(double sx, double sy) { return Affine{sx, 0, 0, sy, 0, 0}; }

Affine Affine::Then(const Affine& n) const {
  return Affine{a * n.a + b * n.c,        a * n.b + b * n.d,        c * n.a + d * n.c,
                c * n.b + d * n.d,        tx * n.a + ty * n.c + n.tx, tx * n.b + ty * n.d + n.ty};
}

Surfaces& UnavailableSurfaces() {
  static Surfaces* none = new Surfaces();
  return *none;
}

}  // namespace platform
