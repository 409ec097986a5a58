// Intentionally empty: keeps the support library non-empty.
namespace testsupport { int placeholder = 0; }
