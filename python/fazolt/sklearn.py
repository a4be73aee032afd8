"""A scikit-learn transformer: a fuzzy system as a step of a Pipeline or a
ColumnTransformer (imports scikit-learn, only here).

    from sklearn.pipeline import make_pipeline
    from sklearn.linear_model import LinearRegression
    model = make_pipeline(FuzzyTransformer(dimmer), LinearRegression())
"""
import numpy as np
from sklearn.base import BaseEstimator, TransformerMixin


class FuzzyTransformer(TransformerMixin, BaseEstimator):
    """The system's crisp outputs as features: one column per output.

    Parameters:
        system: a fazolt.System; nothing is learnt from the data.
        on_out_of_range, on_no_rule_fired, on_empty_set, on_nan_input,
        on_non_finite_output, threads: as System.evaluate.

    Example:
        >>> from sklearn.compose import ColumnTransformer
        >>> features = ColumnTransformer([("lamp", FuzzyTransformer(dimmer), ["daylight", "motion"])])
        >>> features.fit_transform(frame)
    """

    def __init__(self, system, on_out_of_range="warning", on_no_rule_fired="warning", on_empty_set="warning",
                 on_nan_input="warning", on_non_finite_output="warning", threads=1):
        self.system = system
        self.on_out_of_range = on_out_of_range
        self.on_no_rule_fired = on_no_rule_fired
        self.on_empty_set = on_empty_set
        self.on_nan_input = on_nan_input
        self.on_non_finite_output = on_non_finite_output
        self.threads = threads

    def fit(self, X, y=None):
        """Learns nothing: records the inputs' count and, for a DataFrame, its column names.

        Parameters:
            X: rows as System.evaluate takes them (an array or a DataFrame).
            y: ignored.
        Returns:
            self.
        Raises:
            nothing: the data is checked by transform.

        Example:
            >>> FuzzyTransformer(dimmer).fit(frame)
        """
        self.n_features_in_ = len(self.system.inputs)
        columns = getattr(X, "columns", None)
        if columns is not None:
            self.feature_names_in_ = np.asarray([str(c) for c in columns], dtype=object)
        return self

    def transform(self, X):
        """The crisp outputs of every row of X, as System.evaluate gives them.

        Parameters:
            X: an array (rows, inputs) in input order, or a DataFrame whose
                columns are matched to the inputs by name.
        Returns:
            a float64 array (rows, outputs).
        Raises:
            FazoltError, KeyError: as System.evaluate.
        Warns:
            FazoltWarning: as System.evaluate.

        Example:
            >>> FuzzyTransformer(dimmer).fit_transform([[5, 0.9], [15, 0.6]])
        """
        out = self.system.evaluate(X, on_out_of_range=self.on_out_of_range, on_no_rule_fired=self.on_no_rule_fired,
                                   on_empty_set=self.on_empty_set, on_nan_input=self.on_nan_input,
                                   on_non_finite_output=self.on_non_finite_output, threads=self.threads)
        out = np.asarray(out, dtype=np.float64)
        return out.reshape(1, -1) if out.ndim == 1 else out

    def get_feature_names_out(self, input_features=None):
        """The outputs' names, the columns transform gives.

        Parameters:
            input_features: ignored (the system names its inputs).
        Returns:
            an object array of str.
        Raises:
            nothing.

        Example:
            >>> FuzzyTransformer(dimmer).get_feature_names_out()
            array(['lamp'], dtype=object)
        """
        return np.asarray(self.system.output_names, dtype=object)
