// Until the first real source of this subsystem lands.
namespace rk { int card_placeholder = 0; }
