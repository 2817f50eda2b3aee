#pragma once
// Form streaming of the three components: their published-property tables and their
// registration with the platform's class registry (done when the library is loaded;
// calling it again is harmless).

namespace quelvan {

void RegisterQuelvanClasses();

}  // namespace quelvan
