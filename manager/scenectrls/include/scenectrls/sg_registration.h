// The scene controls' start-up table: every class a stream or the
// designer may name, registered once, in order, under its category.
#pragma once

namespace kelm::scenectrls {

// Registers the scene core's classes first; runs its table once however
// often it is called.
void RegisterSceneControlClasses();

}  // namespace kelm::scenectrls
