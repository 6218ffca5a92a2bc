// Until the first real source of this subsystem lands.
namespace rk { int media_placeholder = 0; }
