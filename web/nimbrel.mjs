// The client as an ES module with named exports: import { connect } from './nimbrel.mjs'.
// nimbrel.js is loaded for its effect (it sets globalThis.Nimbrel); see web/README.md.
import './nimbrel.js';

const Nimbrel = globalThis.Nimbrel;
export const { connect, regionOf, NimbrelClient, NimbrelError, AttachedGroup } = Nimbrel;
export default Nimbrel;
