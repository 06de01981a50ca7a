// Interaction races replayed against the lead panel (live test calls).
#pragma once

#include <memory>

#include "pip/pip_interaction.h"

namespace pip {

struct PipInteractionFixtures {
  // Each answers whether the monitor behaved; false without a ready lead.
  static bool UserInputDisableReleaseRace();
  static bool SyntheticAdmissionTimeoutFencing();
  static bool SyntheticReservationInterleaving();
  static bool ForeignContinuationPassThrough();
  static bool TimeoutDrainRecovery();

 private:
  static std::shared_ptr<PipInteraction> ReadyLead(platform::Point* center);
  static platform::TapVerdict Feed(PipInteraction& i, const platform::TapEvent& e);
  static void SeedSample(PipInteraction& i, platform::Point p);
  static bool Dragging(PipInteraction& i);
};

}  // namespace pip
