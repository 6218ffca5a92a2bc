// Until the first real source of this subsystem lands.
namespace rk { int convert_placeholder = 0; }
