// Until the first real source of this subsystem lands.
namespace rk { int effects_placeholder = 0; }
