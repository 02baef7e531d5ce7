// Placeholder until the driver is written.
namespace varnel {}
