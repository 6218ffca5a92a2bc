// Until the first real source of this subsystem lands.
namespace rk { int codec_placeholder = 0; }
