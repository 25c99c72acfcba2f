#ifndef CE_MATH_H
#define CE_MATH_H
#ifdef __cplusplus
extern "C" {
#endif
#define HUGE_VAL __builtin_huge_val()
double acos(double x);
double asin(double x);
double atan(double x);
double atan2(double y, double x);
double ceil(double x);
double cos(double x);
double cosh(double x);
double exp(double x);
double fabs(double x);
double floor(double x);
double fmod(double x, double y);
double frexp(double x, int *exponent);
double ldexp(double x, int exponent);
double log(double x);
double log10(double x);
double modf(double x, double *whole);
double pow(double x, double y);
double sin(double x);
double sinh(double x);
double sqrt(double x);
double tan(double x);
double tanh(double x);
#ifdef __cplusplus
}
#endif
#endif
